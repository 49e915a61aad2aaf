#!/usr/bin/env bash
# The chat's latency on a host that moves a large file at the same time: 61
# clients send steady lines over TLS for 30 s, once with the host otherwise
# idle, once while a 62nd participant (jaselo-sharebench) uploads and fetches
# a file on it again and again. A full chat turns away a file request's
# connection as it does any newcomer's, before it can tell them apart, so the
# chat keeps a seat free for it.
# Usage: tools/sharebench/chat-under-transfer.sh [BUILD_DIR] [MIB]
set -euo pipefail
build=${1:-build}
mib=${2:-1024}
data=$(mktemp -d)
trap 'kill "$host" 2>/dev/null; rm -rf "$data"' EXIT
# The host takes the file as often as it comes: room for two copies.
"$build/jaselo-participant" --serve --port 0 --no-announce --quiet --no-input --data-dir "$data" \
  --connect-rate 1000 --share-largest $((mib + 1)) --share-total $((mib * 40)) > "$data/host.out" &
host=$!
for _ in $(seq 50); do grep -q LISTENING "$data/host.out" 2>/dev/null && break; sleep 0.1; done
port=$(head -1 "$data/host.out" | cut -d' ' -f2)
bench=("$build/jaselo-bench" --host external --port "$port" --clients 61 --duration 30 --tls --row)
echo "== the chat alone"
"${bench[@]}"
echo "== the chat while a ${mib} MiB file moves up and down"
"$build/jaselo-sharebench" --port "$port" --mib "$mib" --for 40 &
mover=$!
sleep 3
"${bench[@]}"
wait "$mover"
