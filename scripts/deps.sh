# Sourced by the launch and test commands: installs the Debian packages they
# need, as root directly, otherwise through sudo for the install step alone,
# or says exactly how when there is no sudo.

# Building and running the program (libavahi-client-dev: finding chats on the
# network through avahi-daemon; libssl-dev: TLS and the host's key,
# OpenSSL 3; libwslay-dev and libboost-dev: the page browsers join from, its HTTP requests read by Boost.Beast's
# parser and its WebSocket frames by wslay; libqrencode-dev: the page's
# address as a QR code).
JASELO_BUILD_PACKAGES="g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libavahi-client-dev fonts-liberation
  libssl-dev libwslay-dev libboost-dev libqrencode-dev"
# Running its window on a machine without a display.
JASELO_DISPLAY_PACKAGES="xvfb xauth"
# The test command on top: test frameworks, the window driven under Xvfb and
# read as a screen reader reads it (a private session bus, the accessibility
# bus, pyatspi), benchmarks, sanitizer and fuzzing toolchain, the formatter,
# the checks of the installed files (systemd for systemd-analyze), the Debian
# package built and checked as Debian builds and checks one, a system bus,
# avahi-daemon and its tools in a network namespace of the discovery test's
# own, a notification daemon on a private session bus (dunst,
# dbus-run-session and dbus-monitor), and the web page in a real browser
# (chromium headless, driven through chromium-driver by python3-selenium), and
# the invitation's QR code read back (zbarimg).
JASELO_TEST_PACKAGES="libgtest-dev libgmock-dev xvfb xauth xdotool libbenchmark-dev clang libclang-rt-14-dev llvm-14
  clang-format-14 desktop-file-utils appstream man-db systemd build-essential dpkg-dev debhelper lintian
  dbus dbus-daemon dbus-bin avahi-daemon avahi-utils iproute2 dunst at-spi2-core python3-pyatspi
  chromium chromium-driver python3-selenium zbar-tools"

jaselo_missing_packages() { # packages...
  local missing="" p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  echo "$missing"
}

jaselo_install_deps() { # packages...
  local missing
  missing=$(jaselo_missing_packages "$@")
  [ -z "$missing" ] && return 0
  local install="apt-get install -y -qq --no-install-recommends$missing"
  local as_root=()
  if [ "$(id -u)" != 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "Missing packages. Install them as root with:" >&2
      echo "  apt-get update && $install" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  echo "Installing:$missing"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  # shellcheck disable=SC2086
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive $install
}
