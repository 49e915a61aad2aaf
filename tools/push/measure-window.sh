#!/usr/bin/env bash
# The real program, as a client, under a server that pushes LINES short lines
# at it at once: its resident memory twice a second for SECONDS, how long a
# typed line takes to reach the server, its peak memory, and how long it takes
# to close after Escape. Runs under a private Xvfb, typed at with xdotool.
#   tools/push/measure-window.sh [BUILD_DIR] [LINES] [SECONDS]
set -euo pipefail
build=$(realpath "${1:-build}")
lines=${2:-100000}
seconds=${3:-10}
for tool in Xvfb xdotool; do command -v $tool >/dev/null || { echo "needs $tool" >&2; exit 2; }; done
[ -x "$build/jaselo" ] && [ -x "$build/jaselo-push" ] || { echo "build jaselo and jaselo-push first" >&2; exit 2; }

dir=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
now_ms() { date +%s%3N; }
rss() { awk -v k="$2:" '$1 == k { printf "%.1f", $2 / 1024 }' "/proc/$1/status" 2>/dev/null || echo "-"; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load average: $(cut -d' ' -f1-3 /proc/loadavg)"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$dir/display")" QT_QPA_PLATFORM=xcb

"$build/jaselo-push" --lines "$lines" >"$dir/push.out" &
pids+=($!)
for _ in $(seq 100); do grep -q LISTENING "$dir/push.out" 2>/dev/null && break; sleep 0.1; done
port=$(awk '/^LISTENING/ { print $2 }' "$dir/push.out")
printf '#Pseudo\r\n5 user\r\n#Client-Server\r\n1 0\r\n#IpAddress\r\n127.0.0.1\r\n#Port\r\n%s\r\n#Police\r\n6 Arial\r\n#Couleur\r\n0 0 0\r\n#Mode\r\n0 0 0\r\n' "$port" >"$dir/config.cfg"
(cd "$dir" && exec "$build/jaselo") >/dev/null 2>&1 &
program=$!
pids+=($program)
focus() { xdotool windowfocus --sync "$(xdotool search --sync --limit 1 --name "^$1\$")"; }
focus "Jaselo Initialisation"
xdotool key Return
focus "Jaselo -- user"
echo "Pushing $lines lines of $(( 39 )) bytes at the window"
start=$(now_ms)
for _ in $(seq $((seconds * 2))); do
  sleep 0.5
  pushed=$(awk '/^PROGRESS/ { p = $2 } END { sub("pushed=", "", p); print p }' "$dir/push.out")
  echo "  t=$(( ($(now_ms) - start) / 1000 )).$(( ($(now_ms) - start) % 1000 / 100 )) s  rss=$(rss $program VmRSS) MiB  pushed=${pushed:-0}"
done
typed=$(now_ms)
xdotool type --delay 0 "typed line"
xdotool key Return
for _ in $(seq 3000); do grep -q "^HEARD text=typed line" "$dir/push.out" && break; sleep 0.05; done
grep -q "^HEARD text=typed line" "$dir/push.out" && echo "Typed line reached the server after $(( $(now_ms) - typed )) ms" ||
  echo "Typed line never reached the server"
echo "Peak resident memory: $(rss $program VmHWM) MiB"
escape=$(now_ms)
xdotool key Escape
for _ in $(seq 3000); do kill -0 $program 2>/dev/null || break; sleep 0.05; done
if kill -0 $program 2>/dev/null; then
  echo "Still open $(( ($(now_ms) - escape) / 1000 )) s after Escape"
else
  echo "Closed $(( $(now_ms) - escape )) ms after Escape"
fi
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
