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
         usr/share/passlog/sample-card.txt usr/share/passlog/passlog-guide.html usr/share/passlog/qtbase_ja.qm usr/share/man/man1/passlog.1.gz usr/share/man/ja/man1/passlog.1.gz \
         usr/share/applications/passlog.desktop usr/share/icons/hicolor/48x48/apps/passlog.png \
         usr/share/doc/passlog/copyright; do
  [ -f "$root/$f" ] || { echo "missing in the package: /$f"; exit 1; }
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || { echo "no dependency on Qt 6 Widgets"; exit 1; }
dpkg-deb --field "$deb" Depends | grep -q 'fonts-noto-cjk' || { echo "no dependency on the fonts"; exit 1; }
dpkg-deb --field "$deb" Depends | grep -q 'libharfbuzz-subset0' || { echo "no dependency on HarfBuzz's subsetter"; exit 1; }
dpkg-deb --field "$deb" Depends | grep -q 'qt6-translations-l10n' || { echo "no dependency on Qt's translations"; exit 1; }

# Asked on the command line: no display needed, no window opened.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$root/usr/bin/passlog" --version)
echo "passlog --version: $out"
[ "$out" = "PASSLOG $version" ] || { echo "unexpected version text"; exit 1; }
help=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/passlog" --help)
for option in --help --version --copy-history-to-server --demo export import server backup restore; do
  grep -q -- "$option" <<<"$help" || { echo "--help does not list $option"; exit 1; }
  # Both manual pages list every option.
  for page in man/man1 man/ja/man1; do
    zcat "$root/usr/share/$page/passlog.1.gz" | grep -q -- "${option//-/\\\\-}" ||
      { echo "the manual page $page/passlog.1 does not list $option"; exit 1; }
  done
done

if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/passlog.desktop"
fi

# The installed program started by a user who cannot write /usr/bin, on a
# 1920 x 1200 screen scaled to 150 %, with the packaged reader emulator as its
# reader: the history appears in that user's data folder, and the program
# gets as far as polling the reader, which comes after it opened the masters
# in /usr/share/passlog (a failure would stop it at its error report).
home=$(mktemp -d)
chmod 755 "$home"
trap 'kill "${emulator:-}" 2>/dev/null || true; rm -rf "$root" "$home"' EXIT
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  chmod 555 "$root/usr/bin"
fi
data="$home/data/PASSLOG"
"${as_user[@]}" mkdir -p "$data"
printf '[RS232C]\r\nComPort=1\r\nDevice1=%s\r\n' "$home/reader" | "${as_user[@]}" tee "$data/passlog.ini" >/dev/null
"${as_user[@]}" "$root/usr/bin/passlog-reader-emulator" --link "$home/reader" --state readable \
  </dev/null >"$home/reader.log" 2>&1 &
emulator=$!
for _ in $(seq 50); do [ -e "$home/reader" ] && break; sleep 0.1; done
printf '{"screens": [{"name": "scaled", "x": 0, "y": 0, "width": 1920, "height": 1200, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1.5}]}' >"$home/screen.json"
set +e
env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
  TMPDIR="$home" QT_QPA_PLATFORM="offscreen:configfile=$home/screen.json" \
  "${as_user[@]}" timeout -s TERM 8 "$root/usr/bin/passlog" >"$home/out.txt" 2>&1
status=$?
set -e
kill "$emulator" 2>/dev/null || true
chmod 755 "$root/usr/bin"
[ "$status" -eq 124 ] || { cat "$home/out.txt"; echo "the installed program ended by itself (status $status)"; exit 1; }
[ -f "$data/ETC_DAT.sqlite" ] || { echo "no history database in the user's data folder"; exit 1; }
tr -d '\r' <"$data/passlog.ini" | grep -qx "AppPath=$data/" || { echo "AppPath does not name the user's data folder"; exit 1; }
for f in passlog.ini ETC_DAT.sqlite; do
  [ ! -e "$root/usr/bin/$f" ] || { echo "$f written into the program folder"; exit 1; }
done
grep -q '^rx ' "$home/reader.log" || { cat "$home/reader.log"; echo "the installed program never polled the reader"; exit 1; }
echo "installed program: history in $data, reader polled"

# "passlog --demo" by the same user, with nothing prepared: the packaged
# emulator starts with the packaged sample card on a link in the user's
# runtime folder, the program reads the card (PASSLOG_DEMO_READ_AND_QUIT
# presses カード読込 once it is offered, says how many records it read, then
# ends the program) into a history of the demo's own that goes with it, the
# user's history and settings file are unchanged and no emulator is left.
runtime="$home/run"
"${as_user[@]}" mkdir -m 700 "$runtime"
cp "$data/passlog.ini" "$home/settings-before"
chmod 555 "$root/usr/bin" 2>/dev/null || true
set +e
env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
  XDG_RUNTIME_DIR="$runtime" TMPDIR="$home" QT_QPA_PLATFORM="offscreen:configfile=$home/screen.json" \
  PASSLOG_DEMO_READ_AND_QUIT=1 PATH=/usr/bin:/bin \
  "${as_user[@]}" timeout -s TERM 60 "$root/usr/bin/passlog" --demo >"$home/demo.txt" 2>&1
status=$?
set -e
chmod 755 "$root/usr/bin"
[ "$status" -eq 0 ] || { cat "$home/demo.txt"; echo "passlog --demo ended with status $status"; exit 1; }
records=$(grep -v '^#' "$root/usr/share/passlog/sample-card.txt" | grep -c '[0-9]')
grep -q "カード読込: ${records}件" "$home/demo.txt" || { cat "$home/demo.txt"; echo "the demo did not read the sample card's $records records"; exit 1; }
# The demo's history is its own and goes with it: the user's history is untouched.
staged=$(sqlite3 "$data/ETC_DAT.sqlite" 'SELECT COUNT(*) FROM ETC_TEMP' 2>/dev/null || echo 0)
[ "$staged" -eq 0 ] || { echo "the demo staged $staged records in the user's history"; exit 1; }
cmp -s "$home/settings-before" "$data/passlog.ini" || { echo "the demo changed the settings file"; exit 1; }
[ -z "$(ls -A "$runtime" | grep passlog-demo)" ] || { echo "the demo left its reader link"; exit 1; }
! pgrep -f "$runtime/passlog-demo-reader" >/dev/null || { echo "the demo left its emulator running"; exit 1; }
echo "passlog --demo: $staged records of the sample card read, settings unchanged, emulator ended"

if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$deb"
else
  echo "lintian is not installed: package not checked"
fi
echo "package ok"
