#!/usr/bin/env bash
# Starts the program as scripts/run.sh does (with the reader emulator and the
# sample card) on a virtual display, runs optional xdotool commands against
# the main window, and saves a screenshot of the screen as a PNG.
#
#   scripts/screenshot.sh OUT.png [SECONDS] [XDOTOOL COMMANDS]...
#
# Each command argument runs as one xdotool call, then the script waits a
# second; %w stands for the main window's id. Example (a card read):
#   scripts/screenshot.sh read.png 3 "mousemove --window %w 860 146 click 1"
# SCREENSHOT_WINDOW=NAME saves only the window of that title (a dialog).
# At 150 % (positions are then device pixels: 1.5 times the window's own):
#   PASSLOG_SCREEN=1920x1200 QT_SCALE_FACTOR=1.5 scripts/screenshot.sh scaled.png
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(readlink -f "${1:-$root/build/screenshot.png}")
wait_s=${2:-4}
shift $(( $# > 2 ? 2 : $# ))
bash "$root/scripts/build.sh" >/dev/null
for package in x11-apps imagemagick xdotool; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    apt-get install -y -qq "$package" >/dev/null
done
actions=$(printf '%s\n' "$@")
export root out wait_s actions
# PASSLOG_SCREEN sets the virtual screen's size; with QT_SCALE_FACTOR the
# program draws scaled (1.5 on 1920x1200, 2 on 2560x1600 leave 1280x800 of
# the window's own pixels).
screen=${PASSLOG_SCREEN:-1280x1024}
xvfb-run -a -s "-screen 0 ${screen}x24 -dpi 96" bash -c '
  setsid bash "$root/scripts/run.sh" >/dev/null 2>&1 & runner=$!
  sleep "$wait_s"
  w=$(xdotool search --name "^PASSLOG\$" | head -n 1)
  while IFS= read -r action; do
    [ -n "$action" ] || continue
    xdotool ${action//%w/$w}
    sleep 1
  done <<<"$actions"
  if [ -n "${SCREENSHOT_WINDOW:-}" ]; then
    import -window "$(xdotool search --name "$SCREENSHOT_WINDOW" | head -n 1)" "$out"
  else
    import -window root "$out"
  fi
  kill -- -"$runner" 2>/dev/null || true'
echo "$out"
