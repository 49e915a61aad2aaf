#!/usr/bin/env bash
# Lists a built Debian package's dependencies and contents and checks them:
# the libraries found in the binaries plus the fonts, the version the
# programs report (the changelog's), every installed file with paths written
# for /usr, the licence and the conffile.
#   packaging/check-deb.sh PACKAGE.deb
set -euo pipefail
deb=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Depends
depends=$(dpkg-deb -f "$deb" Depends)
for needed in fonts-liberation libqt6widgets6 libavahi-client3 libwslay1 libssl3 libqrencode4 libc6 libstdc++6; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
for file in usr/bin/jaselo usr/bin/jaselo-participant usr/share/applications/org.jaselo.Jaselo.desktop \
    usr/share/metainfo/org.jaselo.Jaselo.metainfo.xml usr/share/man/man1/jaselo.1.gz \
    usr/share/man/man1/jaselo-participant.1.gz lib/systemd/system/jaselo-host.service \
    etc/default/jaselo-host usr/share/icons/hicolor/256x256/apps/org.jaselo.Jaselo.png \
    usr/share/doc/jaselo/copyright usr/share/doc/jaselo/changelog.gz; do
  [ -f "$tree/$file" ] || fail "missing /$file"
done
grep -qx 'Exec=/usr/bin/jaselo --user-folder' "$tree/usr/share/applications/org.jaselo.Jaselo.desktop" ||
  fail "the menu entry does not start /usr/bin/jaselo"
grep -q '^ExecStart=/usr/bin/jaselo-participant --serve --no-input' "$tree/lib/systemd/system/jaselo-host.service" ||
  fail "the unit does not start /usr/bin/jaselo-participant"
grep -qx 'EnvironmentFile=-/etc/default/jaselo-host' "$tree/lib/systemd/system/jaselo-host.service" ||
  fail "the unit does not read /etc/default/jaselo-host"
grep -qx 'License: Expat' "$tree/usr/share/doc/jaselo/copyright" || fail "the copyright file names no licence"
control=$(mktemp -d)
trap 'rm -rf "$tree" "$control"' EXIT
dpkg-deb -e "$deb" "$control"
grep -qx /etc/default/jaselo-host "$control/conffiles" || fail "/etc/default/jaselo-host is not a conffile"
version=$(dpkg-deb -f "$deb" Version)
[ "$("$tree/usr/bin/jaselo-participant" --version)" = "jaselo-participant $version" ] ||
  fail "the programs report another version than the package's $version"
echo "package checked"
