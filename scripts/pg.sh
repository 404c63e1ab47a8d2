#!/usr/bin/env bash
# pg.sh start|halt|resume|restart|stop DIR: a private PostgreSQL 15 cluster for tests.
#   eval "$(bash scripts/pg.sh start /tmp/pg-me)"   # exports TW_PG_PORT and TW_PG_DIR
#   bash scripts/pg.sh halt /tmp/pg-me              # stops its server, ending every session
#   bash scripts/pg.sh resume /tmp/pg-me            # starts it again on the same port
#   bash scripts/pg.sh restart /tmp/pg-me           # halt, then resume
#   bash scripts/pg.sh stop /tmp/pg-me              # stops it and removes DIR
# The cluster listens on 127.0.0.1 only (and a socket in DIR); role tw, trust authentication.
# The role tw_pw (password tw-secret) alone must give its password over TCP, so that tests
# can see a wrong password refused.
# initdb refuses to run as root, so as root every server command runs as the user postgres.
# Only the export line goes to standard output; everything else goes to standard error.
set -euo pipefail

pgbin=${TW_PGBIN:-/usr/lib/postgresql/15/bin}
marker=.tw-pg-cluster

usage() {
  echo "usage: $0 start DIR | halt DIR | resume DIR | restart DIR | stop DIR" >&2
  exit 2
}

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

serve() {
  as_owner "$pgbin/pg_ctl" -D "$1/data" -l "$1/log" -w -t 60 \
    -o "-p $2 -k $1 -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null 2>&1
}

start() {
  local dir=$1
  [ -x "$pgbin/initdb" ] || { echo "pg.sh: no PostgreSQL 15 in $pgbin" >&2; exit 1; }
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ]; then
    echo "pg.sh: $dir exists and is not empty" >&2
    exit 1
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  touch "$dir/$marker"
  if [ "$(id -u)" -eq 0 ]; then
    chown postgres "$dir"
    if ! runuser -u postgres -- test -w "$dir"; then
      echo "pg.sh: the user postgres cannot reach $dir (check the parent directories)" >&2
      exit 1
    fi
  fi
  # UTF-8 whatever the caller's locale: a process environment without one (as a test's child
  # has) would otherwise make an SQL_ASCII cluster.
  if ! as_owner "$pgbin/initdb" -D "$dir/data" -A trust -U tw --no-sync -E UTF8 \
      --locale=C.UTF-8 >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log" >&2
    echo "pg.sh: initdb failed" >&2
    exit 1
  fi
  local hba="$dir/data/pg_hba.conf"
  { echo "host all tw_pw 127.0.0.1/32 scram-sha-256"; cat "$hba"; } >"$hba.new"
  cat "$hba.new" >"$hba" && rm -f "$hba.new"
  local attempt port
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    port_in_use "$port" && continue
    if serve "$dir" "$port"; then
      echo "$port" >"$dir/port"
      if ! "$pgbin/psql" -X -q -h "$dir" -p "$port" -U tw -d postgres \
          -c "CREATE ROLE tw_pw LOGIN PASSWORD 'tw-secret'" >&2; then
        as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
        echo "pg.sh: the cluster in $dir started but could not be prepared" >&2
        exit 1
      fi
      echo "export TW_PG_PORT=$port TW_PG_DIR=$dir"
      return 0
    fi
    # Another process may have taken the port between the check and the start: try another.
    if grep -qi 'could not bind\|address already in use' "$dir/log" 2>/dev/null; then
      : >"$dir/log"
      continue
    fi
    break
  done
  cat "$dir/log" >&2 2>/dev/null || true
  echo "pg.sh: the cluster in $dir did not start" >&2
  exit 1
}

stop() {
  local dir=$1
  [ -d "$dir" ] || return 0
  # An empty directory is what a start that failed at once leaves (or a caller's mktemp).
  if [ -z "$(ls -A "$dir")" ]; then
    rmdir "$dir"
    return 0
  fi
  if [ ! -e "$dir/$marker" ]; then
    echo "pg.sh: $dir was not made by pg.sh start; left alone" >&2
    exit 1
  fi
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 ||
      echo "pg.sh: stopping the cluster in $dir failed" >&2
  fi
  rm -rf "$dir"
}

# Stops the server of a cluster of pg.sh, ending every session, and keeps the cluster.
halt() {
  local dir=$1
  [ -e "$dir/$marker" ] && [ -f "$dir/port" ] ||
    { echo "pg.sh: no cluster of pg.sh in $dir" >&2; exit 1; }
  as_owner "$pgbin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 ||
    { echo "pg.sh: stopping the cluster in $dir failed" >&2; exit 1; }
}

# Starts a halted cluster again on the port it had.
resume() {
  local dir=$1
  [ -e "$dir/$marker" ] && [ -f "$dir/port" ] ||
    { echo "pg.sh: no cluster of pg.sh in $dir" >&2; exit 1; }
  if ! serve "$dir" "$(cat "$dir/port")"; then
    cat "$dir/log" >&2 2>/dev/null || true
    echo "pg.sh: the cluster in $dir did not start" >&2
    exit 1
  fi
}

[ $# -eq 2 ] || usage
case $1 in
  start) start "$2" ;;
  halt) halt "$2" ;;
  resume) resume "$2" ;;
  restart) halt "$2" && resume "$2" ;;
  stop) stop "$2" ;;
  *) usage ;;
esac
