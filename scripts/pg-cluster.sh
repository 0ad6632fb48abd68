#!/usr/bin/env bash
# A private PostgreSQL cluster for the tests and benchmarks of the shared
# history. Source it, then call:
#   pg_cluster_start   initdb a cluster in a temporary folder, start it on a
#                      free local port, create the database, and export
#                      PASSLOG_PG_HOST, PASSLOG_PG_PORT, PASSLOG_PG_NAME,
#                      PASSLOG_PG_USER and PGPASSFILE (a password file: the
#                      cluster asks for a password, as a real server does)
#   pg_cluster_stop    stop it and remove the folder
# The server refuses to run as root: as root, the cluster belongs to the
# postgres system user. Without the server programs nothing is exported and
# the store tests skip.
pg_cluster_dir=""
pg_cluster_user=""

pg_cluster_bin() {
  local bin
  for bin in /usr/lib/postgresql/*/bin; do [ -x "$bin/initdb" ] && echo "$bin"; done | sort -V | tail -1
}

pg_cluster_as() {
  if [ -n "$pg_cluster_user" ]; then
    runuser -u "$pg_cluster_user" -- "$@"
  else
    "$@"
  fi
}

pg_cluster_start() {
  local bin port password
  bin=$(pg_cluster_bin)
  if [ -z "$bin" ]; then echo "postgres: no server programs found" >&2; return 0; fi
  if [ "$(id -u)" -eq 0 ]; then pg_cluster_user=postgres; fi
  pg_cluster_dir=$(mktemp -d /tmp/passlog-pg.XXXXXX)
  chmod 755 "$pg_cluster_dir"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  password=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
  printf '%s\n' "$password" >"$pg_cluster_dir/pw"
  mkdir "$pg_cluster_dir/data"
  if [ -n "$pg_cluster_user" ]; then chown -R "$pg_cluster_user" "$pg_cluster_dir"; fi
  pg_cluster_as "$bin/initdb" -D "$pg_cluster_dir/data" -U passlog --pwfile="$pg_cluster_dir/pw" \
    --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$pg_cluster_dir/initdb.log" 2>&1 || {
    echo "postgres: initdb failed (see $pg_cluster_dir/initdb.log)" >&2; return 0; }
  pg_cluster_as "$bin/pg_ctl" -D "$pg_cluster_dir/data" -l "$pg_cluster_dir/server.log" -w \
    -o "-p $port -k $pg_cluster_dir -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=50" start >/dev/null || {
    echo "postgres: the server did not start (see $pg_cluster_dir/server.log)" >&2; return 0; }
  # The password file belongs to whoever runs the tests, readable by them only.
  printf '127.0.0.1:%s:*:passlog:%s\n' "$port" "$password" >"$pg_cluster_dir/pgpass"
  chown "$(id -u)" "$pg_cluster_dir/pgpass"
  chmod 600 "$pg_cluster_dir/pgpass"
  rm -f "$pg_cluster_dir/pw"
  export PGPASSFILE="$pg_cluster_dir/pgpass"
  PGPASSFILE="$pg_cluster_dir/pgpass" "$bin/createdb" -h 127.0.0.1 -p "$port" -U passlog passlog || {
    echo "postgres: createdb failed" >&2; return 0; }
  export PASSLOG_PG_HOST=127.0.0.1 PASSLOG_PG_PORT="$port" PASSLOG_PG_NAME=passlog PASSLOG_PG_USER=passlog
  export PASSLOG_PG_CTL="$bin/pg_ctl" PASSLOG_PG_DATA="$pg_cluster_dir/data" PASSLOG_PG_RUNAS="$pg_cluster_user"
  echo "postgres: private cluster on 127.0.0.1:$port"
}

pg_cluster_stop() {
  [ -n "$pg_cluster_dir" ] || return 0
  local bin
  bin=$(pg_cluster_bin)
  pg_cluster_as "$bin/pg_ctl" -D "$pg_cluster_dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$pg_cluster_dir"
  pg_cluster_dir=""
}

# Run as a command (benchmarks): "pg-cluster.sh start" starts a cluster and
# prints its variables as NAME=value lines; "pg-cluster.sh stop DATA" stops
# the cluster whose data folder is DATA and removes its folder.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    start)
      pg_cluster_start >&2
      if [ -n "${PASSLOG_PG_PORT:-}" ]; then env | grep -E '^(PASSLOG_PG_|PGPASSFILE=)'; else exit 1; fi ;;
    stop)
      pg_cluster_dir=$(dirname "$2")
      if [ "$(id -u)" -eq 0 ]; then pg_cluster_user=$(stat -c %U "$2"); fi
      pg_cluster_stop ;;
    *) echo "usage: $0 start | stop DATA" >&2; exit 2 ;;
  esac
fi
