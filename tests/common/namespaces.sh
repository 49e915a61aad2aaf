# Sourced by the tests that need a network of their own. jaselo_isolate runs
# the calling script again inside new network, mount and pid namespaces (a
# user namespace too when not root), with JASELO_INSIDE set to root or user
# there, and exits 77 (skipped) when none can be made; the pid namespace makes
# everything the test starts die with it if it is killed. Inside, jaselo_scratch
# gives a scratch folder ($tmp, the data folder too) and ends every process
# listed in `pids` at exit.
#   jaselo_isolate "$0" "$@"

jaselo_isolate() {
  [ -z "${JASELO_INSIDE:-}" ] || return 0
  local isolate=(unshare --net --mount --pid --fork --kill-child --mount-proc) inside=root why
  if [ "$(id -u)" != 0 ]; then
    isolate=(unshare --user --map-root-user "${isolate[@]:1}")
    inside=user
  fi
  if ! why=$("${isolate[@]}" true 2>&1); then
    echo "SKIPPED: cannot make a network namespace here: $why"
    exit 77
  fi
  JASELO_INSIDE=$inside exec "${isolate[@]}" bash "$@"
}

jaselo_scratch() {
  tmp=$(mktemp -d)
  # Keys and the hosts met live here, never in the user's own folder.
  export XDG_DATA_HOME=$tmp/data
  pids=()
  trap jaselo_cleanup EXIT
}

jaselo_cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$tmp"
}

# until_within SECONDS COMMAND...: true once COMMAND is.
until_within() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.05
  done
}

# jaselo_host_link ADDRESS: a veth pair whose end jsl0 has ADDRESS/24 here,
# the host's side; the other end, jsl1, waits for jaselo_attacker.
jaselo_host_link() {
  ip link set lo up
  ip link add jsl0 type veth peer name jsl1
  ip addr add "$1/24" dev jsl0
  ip link set jsl0 up
}

# jaselo_attacker "ADDRESS..." COMMAND...: runs COMMAND in a network namespace
# of its own whose jsl1 has every ADDRESS (/24), with its output in
# $tmp/attacker.out; sets `attacker` to its pid.
jaselo_attacker() {
  local addresses=$1
  shift
  # shellcheck disable=SC2016 # expanded in the attacker's namespace
  unshare --net bash -c 'touch "$1/attacker"; until ip link show jsl1 >/dev/null 2>&1; do sleep 0.05; done
    ip link set lo up && for a in $2; do ip addr add "$a/24" dev jsl1 || exit 1; done && ip link set jsl1 up &&
    shift 2 && exec "$@"' attacker "$tmp" "$addresses" "$@" >"$tmp/attacker.out" 2>&1 &
  attacker=$!
  pids+=("$attacker")
  until_within 10 test -e "$tmp/attacker" || { echo "FAIL: the attacker's namespace was not made" >&2; exit 1; }
  ip link set jsl1 netns "$attacker"
}
