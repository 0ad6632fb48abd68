#!/usr/bin/env bash
# check-package.sh BUILD_DIR VERSION
#
# Builds the Debian package, unpacks it into a temporary root (dpkg -x),
# checks its contents, runs the installed program with --version and --help
# (no window system), starts it offscreen from its read-only folder as an
# unprivileged user and checks that settings and history go to that user's
# data folder, and runs lintian (errors fail; warnings are printed).
set -euo pipefail
build=$1
version=$2
cmake --build "$build" --target package >/dev/null
deb="$build/packages/passlog_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no package $deb"; exit 1; }
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends

root=$(mktemp -d)
chmod 755 "$root"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
for f in usr/bin/passlog usr/bin/passlog-reader-emulator usr/share/passlog/ETC_MST.sqlite \
         usr/share/applications/passlog.desktop usr/share/icons/hicolor/48x48/apps/passlog.png \
         usr/share/doc/passlog/copyright; do
  [ -f "$root/$f" ] || { echo "missing in the package: /$f"; exit 1; }
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || { echo "no dependency on Qt 6 Widgets"; exit 1; }
dpkg-deb --field "$deb" Depends | grep -q 'fonts-noto-cjk' || { echo "no dependency on the fonts"; exit 1; }

# Asked on the command line: no display needed, no window opened.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$root/usr/bin/passlog" --version)
echo "passlog --version: $out"
[ "$out" = "PASSLOG $version" ] || { echo "unexpected version text"; exit 1; }
env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/passlog" --help | grep -q -- '--version' ||
  { echo "--help does not list --version"; exit 1; }

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/passlog.desktop"
fi

# The installed program started by a user who cannot write /usr/bin: the
# files appear in that user's data folder, the masters are read from
# /usr/share/passlog (a failure would end the program with its report).
home=$(mktemp -d)
trap 'rm -rf "$root" "$home"' EXIT
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod 555 "$root/usr/bin"
fi
set +e
env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
  TMPDIR="$home" QT_QPA_PLATFORM=offscreen \
  "${as_user[@]}" timeout -s TERM 8 "$root/usr/bin/passlog" >"$home/out.txt" 2>&1
status=$?
set -e
chmod 755 "$root/usr/bin"
cat "$home/out.txt"
[ "$status" -eq 124 ] || { echo "the installed program ended by itself (status $status)"; exit 1; }
for f in passlog.ini ETC_DAT.sqlite; do
  [ -f "$home/data/PASSLOG/$f" ] || { echo "no $f in the user's data folder"; exit 1; }
  [ ! -e "$root/usr/bin/$f" ] || { echo "$f written into the program folder"; exit 1; }
done

if command -v lintian >/dev/null; then
  lintian --fail-on error --no-tag-display-limit "$deb"
else
  echo "lintian is not installed: package not checked"
fi
echo "package ok"
