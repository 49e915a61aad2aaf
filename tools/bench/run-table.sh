#!/usr/bin/env bash
# Runs the benchmark rows behind the table in README.md and prints them as one
# Markdown table. The server is the separate headless host, so its CPU time,
# memory and wake-ups are its own.
#   tools/bench/run-table.sh [BUILD_DIR] [STEADY_SECONDS]
# About 4 minutes on a 2-core machine with the default 30 s.
set -euo pipefail
build=${1:-build}
seconds=${2:-30}
bench="$build/jaselo-bench"
[ -x "$bench" ] || { echo "no $bench: build it first (cmake --build $build)" >&2; exit 2; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.1f GiB", $2/1048576}' /proc/meminfo); load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| host | clients | workload | lines sent | delivered to all | lost | duplicated | out of order | clients dropped | p50 ms | p90 ms | p99 ms | max ms | burst drain | server CPU | server CPU µs per delivery | server peak RSS MiB | host wake-ups/s | run s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
status=0
run() {
  local out
  out=$("$bench" --host process --row "$@") || status=1
  grep '^ROW ' <<<"$out" | sed 's/^ROW //'
}
# 63 clients, the most a host takes, in plain text, inside TLS as the
# program's clients join, and as browsers join (one WebSocket frame a line).
run --clients 63 --workload steady --rate 2 --duration "$seconds"
run --clients 63 --workload steady --rate 2 --duration "$seconds" --tls
run --clients 63 --workload steady --rate 2 --duration "$seconds" --websocket
run --clients 63 --workload bursty --lines 20 --burst 20
# The same burst from 8 honest clients while others flood the host.
run --clients 8 --workload bursty --lines 20 --burst 20 --flooders 8
# Silent clients: the host should sleep.
run --clients 63 --workload idle --duration 30
echo
echo "Load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
