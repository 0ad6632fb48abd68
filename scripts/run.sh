#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Unless
# PASSLOG_READER=real, the reader emulator plays the card reader with the
# sample card inserted, and the settings file points the reader port at it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/build.sh" run
build="${PASSLOG_BUILD_DIR:-$root/build}"
cd "$build"

run_program() {
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "no display: starting on a virtual one (xvfb-run)" >&2
    xvfb-run -a -s "-screen 0 1280x1024x24" ./passlog
  else
    ./passlog
  fi
}

if [ "${PASSLOG_READER:-emulator}" = real ]; then
  run_program
  exit
fi

# PASSLOG_READER_ARGS adds emulator options, e.g. "--relay" for the relay unit
# with its desktop printer. The emulator's device, and its control pipe for commands such as
# "state none" (card taken out) or "fault silence":  echo "state none" > "$build/reader.ctl"
link="$build/reader-tty"
control="$build/reader.ctl"
./tools/reader-emulator/reader-emulator --link "$link" --control "$control" \
  --card "$root/data/sample-card.txt" --state readable ${PASSLOG_READER_ARGS:-} </dev/null >"$build/reader-emulator.log" 2>&1 &
emulator=$!
trap 'kill "$emulator" 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done

# Point the configured reader port (ComPort, 1 when unset) at the emulator:
# section RS232C, key Device<port> of the settings file beside the program.
ini="$build/passlog.ini"
if [ -f "$ini" ]; then
  port=$(tr -d '\r' <"$ini" | awk -F= 'tolower($1)=="comport" {v=$2} END {print v}' | grep -o '^[0-9]*' || true)
else
  printf '[PASSLOG]\r\nViewSort=NEW\r\n[RS232C]\r\nComPort=1\r\n' >"$ini"
fi
port=${port:-1}
awk -v key="Device$port" -v value="$link" '
  BEGIN { done = 0 }
  { line = $0; sub(/\r$/, "", line) }
  tolower(line) ~ "^" tolower(key) "=" { next }
  { print line "\r" }
  tolower(line) == "[rs232c]" && !done { print key "=" value "\r"; done = 1 }
  END { if (!done) { print "[RS232C]\r"; print key "=" value "\r" } }
' "$ini" >"$ini.new" && mv "$ini.new" "$ini"

run_program
