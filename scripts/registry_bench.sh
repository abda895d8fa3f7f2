#!/usr/bin/env bash
# Prints the registry's figures (tavsn_registry_bench): check-in and
# identify latency (median, p99), throughput per CPU-second, bytes per
# machine, and a linear scan with the judgment in the same run; on SQLite,
# and on PostgreSQL too when a location is given. Built in its own optimised
# folder, the linux kind of build without sanitizers.
#   registry_bench.sh [MACHINES...]                 default: 100000
#   REGISTRY_BENCH_POSTGRESQL=postgresql://... registry_bench.sh 100000
#     (an empty database of its own: the bench fills it)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" linux
build="$root/build/fleet"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVSN_LINUX_PACKAGE=ON \
      -DTAVSN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j 2 --target tavsn_registry_bench >&2
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000)
for size in "${sizes[@]}"; do
  "$build/tests/bench/tavsn_registry_bench" "$size"
  if [ -n "${REGISTRY_BENCH_POSTGRESQL:-}" ]; then
    "$build/tests/bench/tavsn_registry_bench" "$size" "$REGISTRY_BENCH_POSTGRESQL"
  fi
done
