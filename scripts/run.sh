#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/build.sh"
build="${PASSLOG_BUILD_DIR:-$root/build}"
cd "$build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "no display: starting on a virtual one (xvfb-run)" >&2
  exec xvfb-run -a -s "-screen 0 1280x1024x24" ./passlog
fi
exec ./passlog
