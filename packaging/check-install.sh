#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what lands there: the
# exact file list, the desktop entry and AppStream file against their
# validators, both man pages rendered without a warning, the service unit
# with systemd-analyze (where it can run), and the unit's command line
# keeping a host up with no input until it is told to stop.
#   packaging/check-install.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
prefix=$(mktemp -d)
out=$(mktemp)
host_pid=
cleanup() {
  [ -z "$host_pid" ] || kill "$host_pid" 2>/dev/null || true
  rm -rf "$prefix" "$out"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
cd "$prefix"
id=org.jaselo.Jaselo

expected="bin/jaselo
bin/jaselo-participant
etc/default/jaselo-host
lib/systemd/system/jaselo-host.service
share/applications/$id.desktop"
for size in 16 24 32 48 64 128 256; do
  expected="$expected
share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expected="$expected
share/man/man1/jaselo-participant.1
share/man/man1/jaselo.1
share/metainfo/$id.metainfo.xml"
actual=$(find . -type f -printf '%P\n' | LC_ALL=C sort)
expected=$(echo "$expected" | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$actual") || true)"
for size in 16 24 32 48 64 128 256; do
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r -a header <<<"$(od -An -tu1 -j16 -N8 "share/icons/hicolor/${size}x${size}/apps/$id.png")"
  [ "${header[*]}" = "0 0 $((size / 256)) $((size % 256)) 0 0 $((size / 256)) $((size % 256))" ] ||
    fail "icon $size is not $size px square"
done

desktop-file-validate "share/applications/$id.desktop" || fail "desktop entry"
grep -qx "Exec=$prefix/bin/jaselo --user-folder" "share/applications/$id.desktop" ||
  fail "the menu entry must start the installed program in the per-user folder"
appstreamcli validate --pedantic --no-net "share/metainfo/$id.metainfo.xml" || fail "AppStream metadata"

for page in jaselo jaselo-participant; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "share/man/man1/$page.1" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $page: $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "share/man/man1/$page.1" 2>/dev/null | grep -q "^SYNOPSIS" ||
    fail "man page $page does not render"
done

unit=lib/systemd/system/jaselo-host.service
grep -qx "EnvironmentFile=-$prefix/etc/default/jaselo-host" "$unit" || fail "the unit reads another settings file"
# systemd-analyze may be missing or unable to work (some containers): a unit
# that every systemd accepts tells whether it can judge ours here.
probe=$(mktemp -d)
printf '[Service]\nExecStart=/bin/true\n' >"$probe/probe.service"
if command -v systemd-analyze >/dev/null && systemd-analyze verify --man=no "$probe/probe.service" >/dev/null 2>&1; then
  systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify $unit"
else
  echo "note: systemd-analyze cannot run here; the unit was not verified"
fi
rm -rf "$probe"

# The unit's own command line, with the port of the settings file replaced by
# a free one: it must outlive its empty input and end cleanly on SIGTERM.
exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
grep -qx 'JASELO_PORT=[0-9]*' etc/default/jaselo-host || fail "no port in the settings file"
# The state directory systemd would give it: the host keeps its key there.
state=$prefix/state
mkdir -m 0700 "$state"
exec_line=${exec_line//\$\{JASELO_PORT\}/0}
exec_line=${exec_line//\$\{STATE_DIRECTORY\}/$state}
read -r -a command <<<"${exec_line//\$JASELO_OPTIONS/}"
# Not announced on the machine's network: the bus named here is not there.
DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/jaselo-check/bus "${command[@]}" </dev/null >"$out" 2>&1 &
host_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^LISTENING //p' "$out")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || fail "the host did not listen: $(cat "$out")"
# A participant joins and leaves; meanwhile the host has long read the end
# of its input.
XDG_DATA_HOME=$prefix/data "$prefix/bin/jaselo-participant" --nick probe --port "$port" --quiet </dev/null ||
  fail "a participant could not join the host"
[ "$(stat -c %a "$state/host-key.pem" 2>/dev/null)" = 600 ] || fail "the host keeps no key of its own in its state directory"
kill -0 "$host_pid" 2>/dev/null || fail "the host stopped at the end of its input"
kill -TERM "$host_pid"
status=0
wait "$host_pid" || status=$?
host_pid=
[ "$status" = 0 ] || fail "the host ended with status $status on SIGTERM"
echo "install tree checked: $(echo "$actual" | wc -l) files"
