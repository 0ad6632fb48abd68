#!/usr/bin/env bash
# Configures (once) and builds.
#
#   build.sh run    the program (with its master database) and the reader
#                   emulator: what scripts/run.sh starts
#   build.sh        everything: also the tests and the benchmarks
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mode=${1:-all}
bash "$root/scripts/setup.sh" "$mode"
build="${PASSLOG_BUILD_DIR:-$root/build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${PASSLOG_CMAKE_ARGS:-}
fi
if [ "$mode" = run ]; then
  cmake --build "$build" -j "$(nproc)" --target passlog reader-emulator
else
  cmake --build "$build" -j "$(nproc)"
fi
