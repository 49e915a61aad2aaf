#!/usr/bin/env bash
# Builds and runs the whole test suite: checks that every C++ file is formatted
# as .clang-format says, then a plain build, then again under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded tests under
# ThreadSanitizer; builds the Debian package and checks it, lintian
# included; fuzzes. Every build
# treats compiler warnings as errors. Exits 0 only when every run passes.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
# shellcheck disable=SC2086
jaselo_install_deps $JASELO_BUILD_PACKAGES $JASELO_TEST_PACKAGES

export QT_QPA_PLATFORM=offscreen
# Tests that need an outside program (Xvfb, xdotool, a daemon) skip themselves
# where it is missing; here every such program was just installed, so a
# missing one fails the run instead of passing it with a skip.
export JASELO_REQUIRE_TOOLS=1
jobs=$(nproc)

configure_and_build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DJASELO_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== Format (clang-format 14)"
find app config protocol trust web net chat discovery ui tools tests \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format-14 --dry-run -Werror

echo "== Build and test"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJASELO_BUILD_TESTS=ON -DJASELO_BUILD_TOOLS=ON
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Debian package (dpkg-buildpackage, lintian)"
# dpkg-buildpackage writes the package beside the source tree, so it builds a
# copy of this one under build/deb: the clone stays clean, and nothing lands
# in its parent folder, which may be shared or read-only.
deb=build/deb
rm -rf "$deb"
mkdir -p "$deb/jaselo"
tar -c --exclude-vcs --exclude='./build*' --exclude='./fuzz-out*' . | tar -x -C "$deb/jaselo"
(cd "$deb/jaselo" && DEB_BUILD_OPTIONS="parallel=$jobs" dpkg-buildpackage -us -uc -b >../build.log 2>&1) ||
  { tail -n 40 "$deb/build.log"; echo "dpkg-buildpackage failed: $deb/build.log" >&2; exit 1; }
bash packaging/check-deb.sh "$deb"/jaselo_*.deb
lintian --pedantic -I --fail-on error,warning "$deb"/jaselo_*.changes

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DJASELO_SANITIZE=address,undefined
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (threaded tests)"
# The tools' common library is built for the window's flood test; the tools themselves are not.
cmake -S . -B build-tsan -G Ninja -DJASELO_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DJASELO_SANITIZE=thread -DJASELO_BUILD_TOOLS=ON -DJASELO_BUILD_DEV_TOOLS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_protocol test_net test_chat test_discovery test_ui test_filedoor
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tests/tsan-qt.supp" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threaded

# ---- Fuzzing: each libFuzzer target for 30 s from its committed corpus; any finding fails.
echo "== Fuzzing (scripts/fuzz.sh)"
JASELO_JOBS=$jobs JASELO_WERROR=ON bash scripts/fuzz.sh 30

echo "== All test runs passed"
