#!/usr/bin/env bash
# Prints the verdicts' error rates on a modelled fleet (tavsn_fleet_bench):
# false accepts, false rejects and undecided verdicts under the count and the
# evidence policy, and the identifier collisions of a fleet. Built in its own
# optimised folder, the linux kind of build without sanitizers or fakes.
# Figures, not a pass/fail test. --speed prints tavsn_judge's pairs per
# second on one core instead.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"

build="$root/build/fleet"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVSN_LINUX_PACKAGE=ON \
      -DTAVSN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j 2 --target tavsn_fleet_bench tavsn_judge_bench >&2
if [ "${1:-}" = "--speed" ]; then
  # Pairs per second of tavsn_judge on one core: varies with the machine, so
  # kept apart from the fleet's figures, which the seed fixes.
  "$build/tests/bench/tavsn_judge_bench"
  exit 0
fi
"$build/tests/bench/tavsn_fleet_bench"
