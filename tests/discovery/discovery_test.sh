#!/usr/bin/env bash
# Announcing and finding chats through a real avahi-daemon, on a network
# namespace of the test's own (a veth pair, its own dbus-daemon), so nothing
# of the machine's network or daemons is touched; everything started here
# ends with the test. Exits 77 (skipped) when no namespace can be made.
#   discovery_test.sh PARTICIPANT UI_TEST
set -euo pipefail
participant=$1
ui_test=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in dbus-daemon avahi-daemon avahi-browse avahi-publish ip unshare mount; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh lists its package)"
done

# shellcheck source=../common/namespaces.sh
. "$(dirname "$0")/../common/namespaces.sh"
jaselo_isolate "$0" "$@"
jaselo_scratch

# The daemon's /run and static services are private and empty here.
mount --make-rprivate /
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /run/avahi-daemon "$tmp/services"
if [ -d /etc/avahi/services ]; then mount --bind "$tmp/services" /etc/avahi/services; fi
# In a user namespace the daemon's user becomes the caller, to own /run.
if [ "$JASELO_INSIDE" = user ]; then
  sed 's/^avahi:\([^:]*\):[0-9]*:[0-9]*:/avahi:\1:0:0:/' /etc/passwd >"$tmp/passwd"
  sed 's/^avahi:\([^:]*\):[0-9]*:/avahi:\1:0:/' /etc/group >"$tmp/group"
  mount --bind "$tmp/passwd" /etc/passwd
  mount --bind "$tmp/group" /etc/group
fi

ip link set lo up
ip link add jsl0 type veth peer name jsl1
ip addr add 169.254.77.1/24 dev jsl0
ip addr add 169.254.77.2/24 dev jsl1
ip link set jsl0 up
ip link set jsl1 up

cat >"$tmp/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:path=$tmp/system_bus_socket</listen><auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*"/><allow receive_sender="*"/></policy>
</busconfig>
CONF
cat >"$tmp/avahi.conf" <<CONF
[server]
host-name=jaselo-test
use-ipv6=no
allow-interfaces=jsl0,jsl1
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF

dbus-daemon --config-file="$tmp/bus.conf" --nofork --nopidfile 2>"$tmp/dbus.log" &
pids+=($!)
until_within 10 test -S "$tmp/system_bus_socket" || fail "dbus-daemon did not start: $(<"$tmp/dbus.log")"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/system_bus_socket"

start_avahi() {
  avahi-daemon --no-drop-root --no-chroot --no-rlimits --no-proc-title -f "$tmp/avahi.conf" >>"$tmp/avahi.log" 2>&1 &
  avahi_pid=$!
  pids+=("$avahi_pid")
  until_within 10 avahi-browse -tp _jaselo-probe._tcp >/dev/null 2>&1 ||
    fail "avahi-daemon did not start: $(<"$tmp/avahi.log")"
}

# start_host NAME ARGS...: output in $tmp/NAME.out; sets host_pid and host_port.
start_host() {
  local out=$tmp/$1.out
  shift
  "$participant" --serve --port 0 --no-input "$@" >"$out" 2>&1 &
  host_pid=$!
  pids+=("$host_pid")
  until_within 10 grep -q '^LISTENING ' "$out" || fail "a host did not start: $(<"$out")"
  host_port=$(sed -n 's/^LISTENING //p' "$out")
}

machine=$(uname -n)
machine=${machine%%.*}
browse() { avahi-browse -rtp _jaselo._tcp 2>/dev/null | grep '^=' || true; }
browse_has() { browse | grep -Eq "$1"; }
browse_lacks() { ! browse_has "$1"; }

# A host started before the daemon says it is not announced, then is once the daemon runs.
start_host alice --nick alice
alice_pid=$host_pid alice_port=$host_port
until_within 10 grep -q 'the chat is not announced' "$tmp/alice.out" || fail "no line says the chat is not announced"
start_host hidden --no-announce
hidden_port=$host_port
start_avahi
alice_line="^=;jsl[01];IPv4;alice\\\\032on\\\\032$machine;_jaselo\\._tcp;local;[^;]*;169\\.254\\.77\\.[12];$alice_port;"
until_within 10 browse_has "$alice_line" || fail "alice's chat is not announced: $(browse)"
txt=$(browse | grep -E "$alice_line" | head -n1 | cut -d';' -f10)
alice_key=$(sed -n 's/^ENCRYPTED key=//p' "$tmp/alice.out" | cut -c1-16)
[ ${#alice_key} = 16 ] || fail "alice's host did not say its key: $(<"$tmp/alice.out")"
for entry in '"txtvers=1"' '"nick=alice"' '"web=/"' "\"version=$("$participant" --version | cut -d' ' -f2)\"" '"people=0"' \
  '"tls=1"' "\"key=$alice_key\""; do
  [[ $txt == *"$entry"* ]] || fail "TXT record $txt lacks $entry"
done
# The count follows those who join.
"$participant" --nick bob --port "$alice_port" --no-input --quiet >"$tmp/bob.out" 2>&1 &
bob_pid=$!
pids+=("$bob_pid")
alice_counts() { browse | grep -E "$alice_line" | grep -q "\"people=$1\""; }
until_within 10 alice_counts 1 || fail "alice's chat does not count bob: $(browse)"
kill "$bob_pid"
until_within 10 alice_counts 0 || fail "alice's chat still counts bob after he left: $(browse)"

# A name already taken is renamed as the daemon proposes.
start_host alice2 --nick alice
alice2_pid=$host_pid
until_within 10 browse_has "alice\\\\032on\\\\032$machine\\\\032\\\\0352;_jaselo\\._tcp;local;[^;]*;[^;]*;$host_port;" ||
  fail "the second alice was not renamed: $(browse)"
browse_lacks ";$hidden_port;" || fail "a host with --no-announce is listed"

# A restarted daemon gets the announcement again, and the host says nothing more.
kill "$avahi_pid"; wait "$avahi_pid" || true
start_avahi
until_within 10 browse_has "$alice_line" || fail "alice's chat is not announced again after the daemon restarted"
[ "$(grep -c 'not announced' "$tmp/alice.out")" = 1 ] || fail "the host said more than once that it is not announced"

# A host that stops is withdrawn.
kill "$alice2_pid" "$alice_pid"
wait "$alice_pid" || fail "the host ended with status $? on SIGTERM"
until_within 10 browse_lacks "$alice_line" || fail "alice's chat is still listed after the host stopped"

# Another program's service is listed once for both interfaces, and goes with its publisher.
avahi-publish -s "carol on elsewhere" _jaselo._tcp 4242 txtvers=1 nick=carol version=9 >/dev/null 2>&1 &
publisher=$!
pids+=("$publisher")
carol='^CHAT name="carol on elsewhere" nick="carol" address=169\.254\.77\.[12] port=4242 encrypted=0 key=-$'
found_carol() { "$participant" --find 1 >"$tmp/find.out" && [ "$(grep -cE "$carol" "$tmp/find.out")" = 1 ]; }
until_within 10 found_carol || fail "--find does not list carol's chat once, or fails: $(<"$tmp/find.out")"
kill "$publisher"
no_carol() { "$participant" --find 1 >"$tmp/find.out" && ! grep -q carol "$tmp/find.out"; }
until_within 10 no_carol || fail "--find still lists carol's chat after the publisher stopped"

# Names that would lie about what stands beside them: --find shows each
# control escaped, each line in the order people expect.
rtl=$'evil\u202e gnp.exe on x'
avahi-publish -s "$rtl" _jaselo._tcp 4401 txtvers=1 $'nick=a\u2066b' >/dev/null 2>&1 &
pids+=("$!")
avahi-publish -s "room 10" _jaselo._tcp 4410 txtvers=1 >/dev/null 2>&1 &
pids+=("$!")
avahi-publish -s "room 2" _jaselo._tcp 4402 txtvers=1 >/dev/null 2>&1 &
pids+=("$!")
found_three() { "$participant" --find 1 >"$tmp/find.out" && [ "$(grep -c '^CHAT ' "$tmp/find.out")" = 3 ]; }
until_within 10 found_three || fail "--find does not list the three chats: $(<"$tmp/find.out")"
grep -qx 'CHAT name="evil\\u202e gnp.exe on x" nick="a\\u2066b" address=169\.254\.77\.[12] port=4401 encrypted=0 key=-' \
  "$tmp/find.out" || fail "--find shows a name's controls as they are: $(<"$tmp/find.out")"
[ "$(sed -n 's/^CHAT name="\([^"]*\)".*/\1/p' "$tmp/find.out" | tr '\n' '|')" = 'evil\u202e gnp.exe on x|room 2|room 10|' ] ||
  fail "--find lists the chats out of order: $(<"$tmp/find.out")"
for pid in "${pids[@]: -3}"; do kill "$pid"; done
# The dialog's test publishes these names again: they must be gone first, or
# the daemon would rename the new ones as taken.
none_left() { "$participant" --find 1 >"$tmp/find.out" && ! grep -q '^CHAT ' "$tmp/find.out"; }
until_within 10 none_left || fail "chats are still listed after their publishers stopped: $(<"$tmp/find.out")"

# The settings dialog's list, on this same bus; its screenshot of the names
# that would lie goes beside the build's test output.
export JASELO_TEST_OUTPUT
JASELO_TEST_OUTPUT=$(dirname "$participant")/test-output
mkdir -p "$JASELO_TEST_OUTPUT"
out=$("$ui_test" --gtest_filter='OnTheDiscoveryNetwork.*' 2>&1) || fail "the dialog's test failed: $out"
grep -q '^\[  PASSED  \] 2 tests' <<<"$out" || fail "the dialog's tests did not run: $out"
grep '^screenshot: ' <<<"$out" || true
echo "discovery: all checks passed"
