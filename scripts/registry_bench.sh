#!/usr/bin/env bash
# Prints the registry's figures (tavsn_registry_bench): check-in and
# identify latency (median, p99), throughput per CPU-second, bytes per
# machine, and a linear scan with the judgment in the same run; on SQLite,
# and on PostgreSQL too when a location is given. Built in its own optimised
# folder, the linux kind of build without sanitizers.
#   registry_bench.sh [MACHINES...]                 default: 100000
#   REGISTRY_BENCH_POSTGRESQL=postgresql://... registry_bench.sh 100000
#     (an empty database of its own: the bench fills it)
#   registry_bench.sh --postgresql [MACHINES...]
#     also on PostgreSQL, in a scratch cluster this script starts and stops
#     (tests/registry/postgres_cluster.sh, with a server's default
#     durability: fsync and synchronous commit on), a database per size
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" linux
build="$root/build/fleet"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVSN_LINUX_PACKAGE=ON \
      -DTAVSN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j 2 --target tavsn_registry_bench >&2
cluster=""
if [ "${1:-}" = --postgresql ]; then
  shift
  cluster="$(mktemp -d /tmp/tavsn-bench-pg.XXXXXX)"
  trap 'bash "$root/tests/registry/postgres_cluster.sh" stop "$cluster"' EXIT
  cluster_location="$(TAVSN_POSTGRESQL_DURABLE=1 bash "$root/tests/registry/postgres_cluster.sh" start "$cluster")"
fi
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000)
for size in "${sizes[@]}"; do
  "$build/tests/bench/tavsn_registry_bench" "$size"
  if [ -n "$cluster" ]; then
    psql -X -q -d "$cluster_location" -c "CREATE DATABASE bench_$size"
    "$build/tests/bench/tavsn_registry_bench" "$size" "${cluster_location/\/tavsn?//bench_$size?}"
  fi
  if [ -n "${REGISTRY_BENCH_POSTGRESQL:-}" ]; then
    "$build/tests/bench/tavsn_registry_bench" "$size" "$REGISTRY_BENCH_POSTGRESQL"
  fi
done
