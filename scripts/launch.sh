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
if [ ! -x "$root/build/jaselo" ]; then
  echo "build/jaselo is not built yet: the window comes with a later change." >&2
  exit 0
fi
exec "$root/build/jaselo" "$@"
