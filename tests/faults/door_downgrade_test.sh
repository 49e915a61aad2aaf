#!/usr/bin/env bash
# No newcomer is pushed into plain text by someone who only opens connections:
# an attacker with eight addresses takes every seat of the host, and frees one
# just after each newcomer starts. Each newcomer has never met the host,
# so nothing remembered keeps it encrypted: it must be the host's refusal
# inside TLS, or its second try, that does. Exits 77 (skipped) when no
# namespace can be made.
#   door_downgrade_test.sh PARTICIPANT
set -euo pipefail
participant=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in ip unshare python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

# shellcheck source=../common/namespaces.sh
. "$(dirname "$0")/../common/namespaces.sh"
jaselo_isolate "$0" "$@"
jaselo_scratch
victims=20

jaselo_host_link 169.254.79.1
"$participant" --serve --port 0 --no-announce --no-input --data-dir "$tmp/host" >"$tmp/host.out" 2>&1 &
pids+=($!)
until_within 10 grep -qs '^ENCRYPTED ' "$tmp/host.out" || fail "the host did not start: $(<"$tmp/host.out")"
port=$(sed -n 's/^LISTENING //p' "$tmp/host.out")

# Eight participants from each address, as many as the host seats; for each
# go.N it frees one seat after a random 10 to 300 ms (the newcomer starts,
# is turned away, tries again), and takes it back.
cat >"$tmp/seats.py" <<'PY'
import os, random, select, socket, struct, sys, time
host, port, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
sources = [f"169.254.79.{i}" for i in range(2, 10)]
def seat(source, n):
    s = socket.socket()
    s.bind((source, 0))
    s.connect((host, port))
    name = f"x{source.split('.')[-1]}_{n}".encode() + b"\0"
    s.sendall(struct.pack("<HH", 3, len(name)) + name)
    return s
def drain(held):
    while True:
        ready = select.select(held, [], [], 0)[0]
        if not ready:
            return
        for s in ready:
            if not s.recv(65536):
                held.remove(s)
held = [seat(src, n) for src in sources for n in range(8)]
time.sleep(0.5)
drain(held)
print(f"SEATS held={len(held)}", flush=True)
open(os.path.join(folder, "seated"), "w").close()
for n in range(1, int(sys.argv[4]) + 1):
    go = os.path.join(folder, f"go.{n}")
    while not os.path.exists(go):
        drain(held)
        time.sleep(0.001)
    time.sleep(random.uniform(0.010, 0.300))
    freed = held.pop(random.randrange(len(held)))
    source = freed.getsockname()[0]
    freed.close()
    # Taken back from the same address once the newcomer is gone: the
    # refused tries find the chat full.
    for attempt in range(40):
        time.sleep(0.1)
        drain(held)
        retaken = seat(source, 100 * attempt + n)
        time.sleep(0.05)
        if select.select([retaken], [], [], 0)[0] and not retaken.recv(65536):
            retaken.close()
            continue
        held.append(retaken)
        break
print(f"DONE held={len(held)}", flush=True)
PY
jaselo_attacker "$(echo 169.254.79.{2..9})" python3 "$tmp/seats.py" 169.254.79.1 "$port" "$tmp" "$victims"
until_within 20 test -e "$tmp/seated" || fail "the seats were not taken: $(<"$tmp/attacker.out")"

plain=0 outcomes=()
for ((n = 1; n <= victims; n++)); do
  "$participant" --nick "v$n" --host 169.254.79.1 --port "$port" --no-input --quiet --data-dir "$tmp/v$n" \
    >"$tmp/v$n.out" 2>&1 &
  victim=$!
  pids+=("$victim")
  touch "$tmp/go.$n"
  until_within 10 grep -qsE '^(PEOPLE|PRESENT|REFUSED|PLAIN)' "$tmp/v$n.out" || ! kill -0 "$victim" 2>/dev/null || true
  kill "$victim" 2>/dev/null || true
  wait "$victim" || true
  outcomes+=("$(grep -oE '^(ENCRYPTED|PLAIN|REFUSED|PEOPLE)' "$tmp/v$n.out" | tr '\n' + || echo none)")
  ! grep -q '^PLAIN' "$tmp/v$n.out" || plain=$((plain + 1))
done
echo "newcomers: ${outcomes[*]}"
grep '^SEATS ' "$tmp/attacker.out" || fail "the attacker said nothing: $(<"$tmp/attacker.out")"
[ "$plain" = 0 ] || fail "$plain of $victims newcomers joined in plain text"
echo "door downgrade: all checks passed"
