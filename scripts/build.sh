#!/usr/bin/env bash
# Configures (once) and builds the program, the reader emulator, tests and benchmarks.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/setup.sh"
build="${PASSLOG_BUILD_DIR:-$root/build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${PASSLOG_CMAKE_ARGS:-}
fi
cmake --build "$build" -j "$(nproc)"
