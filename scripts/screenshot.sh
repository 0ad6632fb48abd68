#!/usr/bin/env bash
# Starts the program on a virtual display, waits, and saves a screenshot of
# the screen as a PNG: scripts/screenshot.sh [out.png] [seconds] [xdotool commands]
# The optional xdotool commands run against the main window before the shot,
# e.g. "mousemove --window %w 170 75 click 1" (%w is the window id).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$(readlink -f "${1:-$root/build/screenshot.png}")
wait_s=${3:+${2:-4}}; wait_s=${wait_s:-${2:-4}}
actions=${3:-}
bash "$root/scripts/build.sh" >/dev/null
command -v xwd >/dev/null && command -v convert >/dev/null || {
  apt-get install -y -qq x11-apps imagemagick >/dev/null; }
[ -z "$actions" ] || command -v xdotool >/dev/null || apt-get install -y -qq xdotool >/dev/null
build="${PASSLOG_BUILD_DIR:-$root/build}"
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c "
  cd '$build' && ./passlog & pid=\$!
  sleep $wait_s
  if [ -n \"$actions\" ]; then
    w=\$(xdotool search --name '^PASSLOG\$' | head -n 1)
    xdotool \$(echo \"$actions\" | sed \"s/%w/\$w/g\"); sleep 1
  fi
  xwd -root -silent | convert xwd:- '$out'
  kill \$pid 2>/dev/null || true"
echo "$out"
