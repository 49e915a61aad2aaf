# Sourced by the launch and test commands: installs the Debian packages the
# build needs, or says exactly how to when we are not root.
JASELO_PACKAGES="g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev qt6-base-dev libgl-dev fonts-liberation xvfb xauth xdotool libbenchmark-dev clang libclang-rt-14-dev llvm-14"

jaselo_missing_packages() {
  local missing="" p
  for p in $JASELO_PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  echo "$missing"
}

jaselo_install_deps() {
  local missing
  missing=$(jaselo_missing_packages "$@")
  [ -z "$missing" ] && return 0
  if [ "$(id -u)" != 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install -y$missing" >&2
    return 1
  fi
  echo "Installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
}
