#!/usr/bin/env bash
# Installs what building and running need, builds the programs alone, and
# starts build/jaselo as the calling user in the directory the command was
# run from, so that config.cfg lands there.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)
. scripts/deps.sh

packages=$JASELO_BUILD_PACKAGES
headless=
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
  packages="$packages $JASELO_DISPLAY_PACKAGES"
fi
# shellcheck disable=SC2086
jaselo_install_deps $packages

# Started through sudo: the packages were the only thing that needed root;
# the build and the chat belong to the user who asked.
if [ "$(id -u)" = 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  cd "$here"
  exec sudo -u "$SUDO_USER" --preserve-env=DISPLAY,WAYLAND_DISPLAY,XAUTHORITY,XDG_RUNTIME_DIR,XDG_CONFIG_HOME \
    "$root/scripts/launch.sh" "$@"
fi

# A first build leaves the tests out (the test command turns them on); an
# existing build keeps its settings, so nothing is rebuilt for nothing.
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
[ -f build/CMakeCache.txt ] || options+=(-DJASELO_BUILD_TESTS=OFF)
cmake -S . -B build -G Ninja "${options[@]}" >/dev/null
cmake --build build -j "$(nproc)" --target jaselo jaselo-participant

cd "$here"
if [ -n "$headless" ]; then
  # A machine without a desktop (a server, a container) still runs the
  # window, on a virtual screen.
  echo "No display found: running build/jaselo on a virtual X display (Xvfb)." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/jaselo" "$@"
fi
exec "$root/build/jaselo" "$@"
