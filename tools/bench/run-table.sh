#!/usr/bin/env bash
# Runs the benchmark matrix behind the figures in docs/performance.md and
# prints them as one Markdown table. The server is the separate headless host,
# so its CPU time and memory are its own.
#   tools/bench/run-table.sh [BUILD_DIR] [--host inprocess|process]
# About 5 minutes on a 2-core machine.
set -euo pipefail
build=${1:-build}
shift || true
host=(--host process)
if [ "${1:-}" = "--host" ] && [ -n "${2:-}" ]; then host=(--host "$2"); fi
bench="$build/jaselo-bench"
[ -x "$bench" ] || { echo "no $bench: build it first (cmake --build $build)" >&2; exit 2; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo); load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| host | clients | workload | lines sent | delivered to all | lost | duplicated | out of order | clients dropped | p50 ms | p90 ms | p99 ms | max ms | floor p50 / p99 ms | burst drain | server CPU | server CPU µs per delivery | server peak RSS MiB | run s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
status=0
run() {
  local out
  out=$("$bench" "${host[@]}" --row "$@") || status=1
  grep '^ROW ' <<<"$out" | sed 's/^ROW //'
}
for n in 1 8 32 63; do run --clients "$n" --workload steady --rate 2 --duration 60; done
# The 63 again with every client inside TLS, as the program's clients join.
run --clients 63 --workload steady --rate 2 --duration 60 --tls
# The 63 again, one of them leaving and joining every second: each join asks
# for the list of people and the earlier lines.
run --clients 62 --workload steady --rate 2 --duration 60 --rejoiner
for n in 1 8 32 63; do run --clients "$n" --workload bursty --lines 20 --burst 20; done
# The same burst from 8 honest clients while others flood the host.
for f in 2 8; do run --clients 8 --workload bursty --lines 20 --burst 20 --flooders "$f"; done
run --clients 63 --workload idle --duration 30
# The 63 clients as browsers join, each line one WebSocket frame each way.
run --clients 63 --workload steady --rate 2 --duration 60 --websocket
# Idle inside TLS: the memory each TLS connection adds.
run --clients 63 --workload idle --duration 30 --tls
echo
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
