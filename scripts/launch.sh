#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program in the directory
# the command was run from, so that config.cfg lands there.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
. scripts/deps.sh
jaselo_install_deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
root=$(pwd)
cd "$here"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  # A machine without a desktop (a server, a container) still runs the
  # window, on a virtual screen.
  echo "No display found: running build/jaselo on a virtual X display (Xvfb)." >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$root/build/jaselo" "$@"
fi
exec "$root/build/jaselo" "$@"
