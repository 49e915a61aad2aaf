#!/usr/bin/env bash
# A host flooded from one address of the network, with TLS handshakes and with
# bare connects that never say a word, still lets honest newcomers from another
# address in within 1 s each, none of them in plain text, and those already in
# lose no line. The flood
# comes over a veth pair from a network namespace of its own, inside one of
# the test's own, so nothing of the machine's network is touched; everything
# started here ends with the test. Exits 77 (skipped) when no namespace can be
# made.
#   door_flood_test.sh PARTICIPANT
set -euo pipefail
participant=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in ip unshare python3 mkfifo; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done

# shellcheck source=../common/namespaces.sh
. "$(dirname "$0")/../common/namespaces.sh"
jaselo_isolate "$0" "$@"
jaselo_scratch
now_ms() { now=$((${EPOCHREALTIME/./} / 1000)); }

flood_seconds=8 lines=100 newcomers=8
jaselo_host_link 169.254.78.1

"$participant" --serve --port 0 --no-announce --no-input --data-dir "$tmp/host" >"$tmp/host.out" 2>&1 &
pids+=($!)
until_within 10 grep -qs '^ENCRYPTED ' "$tmp/host.out" || fail "the host did not start: $(<"$tmp/host.out")"
port=$(sed -n 's/^LISTENING //p' "$tmp/host.out")

# Two already in, each saying a line every 100 ms until the flood is over.
declare -A input writer
for who in a b; do
  mkfifo "$tmp/$who.in"
  "$participant" --nick "$who" --port "$port" --quiet >"$tmp/$who.out" 2>&1 <"$tmp/$who.in" &
  pids+=($!)
  exec {fd}>"$tmp/$who.in"
  input[$who]=$fd
  until_within 10 grep -q '^PEOPLE ' "$tmp/$who.out" || fail "$who did not join: $(<"$tmp/$who.out")"
done
for who in a b; do
  for ((i = 1; i <= lines; i++)); do echo "$who$i"; sleep 0.1; done >&"${input[$who]}" &
  pids+=($!)
  writer[$who]=$!
done

# The flood, from 169.254.78.2 alone, bounded in time and in count.
cat >"$tmp/flood.py" <<'PY'
import collections, socket, ssl, struct, sys, threading, time
host, port, seconds, started = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
end, most = time.monotonic() + seconds, 100000
context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
context.check_hostname, context.verify_mode = False, ssl.CERT_NONE
counts = []
def connect():
    s = socket.create_connection((host, port), timeout=1)
    # Reset at close: no TIME_WAIT, so the flood never runs out of ports.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    return s
def handshakes(count):
    while time.monotonic() < end and count["tls"] < most:
        count["tls"] += 1
        try:
            with context.wrap_socket(connect()):
                count["tls_handshaken"] += 1
        except OSError:
            pass
def bare(count):
    held = collections.deque()
    while time.monotonic() < end and count["bare"] < most:
        count["bare"] += 1
        try:
            held.append(connect())
        except OSError:
            pass
        while len(held) > 300:
            held.popleft().close()
threads = []
for f in (handshakes, handshakes, handshakes, bare):
    counts.append(collections.Counter())
    threads.append(threading.Thread(target=f, args=(counts[-1],)))
    threads[-1].start()
while time.monotonic() < end and sum(c["tls"] + c["bare"] for c in counts) < 100:
    time.sleep(0.01)
open(started, "w").close()
for t in threads:
    t.join()
total = sum(counts, collections.Counter())
print("FLOOD from 169.254.78.2:", " ".join(f"{k}={v}" for k, v in sorted(total.items())), flush=True)
PY
jaselo_attacker 169.254.78.2 python3 "$tmp/flood.py" 169.254.78.1 "$port" "$flood_seconds" "$tmp/flooding"
flood=$attacker
until_within 10 test -e "$tmp/flooding" || fail "the flood did not begin: $(<"$tmp/attacker.out")"

# Honest newcomers from 169.254.78.1, one after the other: each is in when the
# host has told it who is there.
slow=0 times=()
for ((n = 1; n <= newcomers; n++)); do
  now_ms
  start=$now
  # Each never met the host: under the flood, none may fall back to plain text.
  "$participant" --nick "new$n" --host 169.254.78.1 --port "$port" --no-input --quiet --data-dir "$tmp/new$n" \
    >"$tmp/new$n.out" 2>&1 &
  newcomer=$!
  pids+=("$newcomer")
  until grep -qsE '^(PRESENT|PEOPLE) ' "$tmp/new$n.out"; do
    now_ms
    [ $((now - start)) -lt 5000 ] || break
    sleep 0.01
  done
  now_ms
  if [ $((now - start)) -lt 5000 ]; then times+=("$((now - start)) ms"); else times+=("none-in-5-s"); fi
  [ $((now - start)) -le 1000 ] || slow=$((slow + 1))
  kill "$newcomer" 2>/dev/null || true
  wait "$newcomer" || true
done
flooding=1
kill -0 "$flood" 2>/dev/null || flooding=0
wait "$flood" || fail "the attacker failed: $(<"$tmp/attacker.out")"
echo "newcomers joined in: ${times[*]}"
grep '^FLOOD ' "$tmp/attacker.out" || fail "the attacker said nothing: $(<"$tmp/attacker.out")"
# A connect that finds the host's queue of accepted connections full is
# dropped, and tried again only a second later.
echo "connects dropped at a full accept queue: $(nstat -asz TcpExtListenOverflows | awk 'NR > 1 { print $2 }')"
[ "$slow" = 0 ] || fail "$slow of $newcomers newcomers took over 1 s (or never got in)"
! grep -l '^PLAIN' "$tmp"/new*.out || fail "newcomers joined in plain text"
[ "$flooding" = 1 ] || fail "the flood ended before the last newcomer was in"

# Every line each one said reached the other.
wait "${writer[@]}"
heard() { [ "$(grep -cE "^SAYS name=\"$2\" text=\"$2[0-9]+\" " "$tmp/$1.out")" -ge "$lines" ]; }
until_within 10 heard a b || true
until_within 10 heard b a || true
for pair in a:b b:a; do
  got=$(grep -oE "^SAYS name=\"${pair#*:}\" text=\"${pair#*:}[0-9]+\"" "$tmp/${pair%:*}.out" | sort -u | wc -l)
  [ "$got" = "$lines" ] || fail "${pair%:*} heard $got of ${pair#*:}'s $lines lines"
done
echo "door flood: all checks passed"
