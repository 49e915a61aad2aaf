#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build-fuzz/ and runs each for a bounded
# time, default 30 s, starting from its committed corpus. Exits non-zero on
# the first finding and says how to keep it as a regression input.
# JASELO_WERROR=ON makes compiler warnings errors, as the test command does.
#   scripts/fuzz.sh [seconds] [target...]     targets: codec server client config web
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=${*:-codec server client config web}
build=build-fuzz
jobs=${JASELO_JOBS:-2}

cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
  -DJASELO_WERROR="${JASELO_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in $targets; do
  corpus=tests/fuzz/corpus/$target
  work=$build/work/$target          # what the run adds; the committed corpus stays as it is
  findings=$build/findings/$target
  mkdir -p "$work" "$findings"
  echo "== fuzz_$target for ${seconds}s"
  if ! "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$corpus" >"$build/fuzz_$target.log" 2>&1; then
    tail -n 60 "$build/fuzz_$target.log"
    echo "fuzz_$target found a fault; its input is in $findings/." >&2
    echo "Keep it as a regression: cp $findings/<file> $corpus/regress-<what-it-shows>" >&2
    status=1
    break
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done ' "$build/fuzz_$target.log" || true
done
exit $status
