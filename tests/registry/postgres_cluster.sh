#!/usr/bin/env bash
# A scratch PostgreSQL cluster for the registry's tests and benchmarks.
#   postgres_cluster.sh start DIR   makes a cluster in DIR (anew), starts it and
#                                   prints the location string of its database
#   postgres_cluster.sh stop DIR    stops it and removes DIR
# The server listens on a Unix socket in DIR only (no TCP port to collide with
# another run or to reach from outside), trusts local connections, and keeps
# nothing durable: fsync is off, since a test's data dies with the test.
# initdb refuses to run as root, and CI runs as root: the cluster then belongs
# to the user `nobody`, who owns DIR. DIR's parent must be one that user can
# enter (/tmp is); the socket's whole path must stay under about 100 bytes.
# TAVSN_POSTGRESQL_DURABLE=1 keeps a server's defaults of durability (fsync,
# synchronous commit), for benchmarks whose figures must be a real server's.
set -euo pipefail

usage() {
  echo "usage: postgres_cluster.sh start|stop DIR" >&2
  exit 2
}
[ $# -eq 2 ] || usage
action="$1"
dir="$2"
case "$dir" in
  /*) ;;
  *) dir="$PWD/$dir" ;;
esac

bin="${TAVSN_POSTGRESQL_BIN:-}"
if [ -z "$bin" ]; then
  bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)"
fi
if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "postgres_cluster.sh: no PostgreSQL server found (install Debian's postgresql)" >&2
  exit 1
fi

database=tavsn
role=tavsn

# Runs a server program as the cluster's owner.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

stop_cluster() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

start_cluster() {
  # What a run killed half-way left behind is thrown away first.
  stop_cluster
  mkdir -p "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown nobody: "$dir"; fi
  chmod 700 "$dir"
  # A start that fails half-way leaves no server and no folder behind.
  trap 'stop_cluster' EXIT
  as_owner "$bin/initdb" -D "$dir/data" -U "$role" --auth=trust --encoding=UTF8 --locale=C \
    --no-sync >"$dir/initdb.log" 2>&1 || {
    cat "$dir/initdb.log" >&2
    exit 1
  }
  cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
max_connections = 60
shared_buffers = 128MB
EOF
  if [ "${TAVSN_POSTGRESQL_DURABLE:-0}" != 1 ]; then
    printf '%s\n' "fsync = off" "synchronous_commit = off" "full_page_writes = off" >>"$dir/data/postgresql.conf"
  fi
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null || {
    cat "$dir/server.log" >&2
    exit 1
  }
  as_owner "$bin/createdb" -h "$dir" -U "$role" "$database"
  trap - EXIT
  echo "postgresql:///$database?host=$dir&user=$role"
}

case "$action" in
  start) start_cluster ;;
  stop) stop_cluster ;;
  *) usage ;;
esac
