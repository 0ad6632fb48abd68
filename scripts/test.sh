#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#
# The printing test needs a CUPS printer queue. When the CUPS scheduler is not
# running, it is started for the run and stopped afterwards; when it has no
# queue "PDF", a cups-pdf queue of that name (jobs become PDF files in ~/PDF/)
# is added for the run and removed afterwards. Without CUPS that test skips.
#
# The shared-history tests need a PostgreSQL server: a private cluster is
# created in a temporary folder, started on a free local port for the run,
# and stopped and removed at the end (scripts/pg-cluster.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/build.sh"
build="${PASSLOG_BUILD_DIR:-$root/build}"
cd "$build"

queue=PDF
started_cupsd=""
added_queue=""
# Commands for the scheduler run as root: directly, or through sudo without a password.
root_prefix=()
if [ "$(id -u)" -ne 0 ]; then root_prefix=(sudo -n); fi
can_be_root() { [ "$(id -u)" -eq 0 ] || { command -v sudo >/dev/null && sudo -n true 2>/dev/null; }; }
as_root() { can_be_root && "${root_prefix[@]}" "$@"; }
scheduler_running() { lpstat -r 2>/dev/null | grep -q "is running"; }
source "$root/scripts/pg-cluster.sh"
finish() {
  pg_cluster_stop
  if [ -n "$added_queue" ]; then as_root lpadmin -x "$queue" 2>/dev/null || true; fi
  if [ -n "$started_cupsd" ]; then
    as_root kill "$started_cupsd" 2>/dev/null || true
    wait "$started_cupsd" 2>/dev/null || true
  fi
}
trap finish EXIT

if command -v cupsd >/dev/null && command -v lpadmin >/dev/null; then
  if ! scheduler_running && can_be_root; then
    # In the foreground of a background job: $! is the scheduler (or the sudo
    # that passes the signal on to it).
    "${root_prefix[@]}" cupsd -f >"$build/cupsd.log" 2>&1 &
    started_cupsd=$!
    for _ in $(seq 100); do scheduler_running && break; sleep 0.1; done
  fi
  if scheduler_running && ! lpstat -p "$queue" >/dev/null 2>&1; then
    if as_root lpadmin -p "$queue" -v cups-pdf:/ -E -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null; then
      added_queue=1
    fi
  fi
fi
export PASSLOG_PRINT_QUEUE="$queue"
pg_cluster_start

ctest --output-on-failure -j "$(nproc)" "$@"
