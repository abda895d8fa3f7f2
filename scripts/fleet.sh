#!/usr/bin/env bash
# Prints the verdicts' error rates on a modelled fleet (tavsn_fleet_bench):
# false accepts, false rejects and undecided verdicts under the count and the
# evidence policy, and the identifier collisions of a fleet. Built in its own
# optimised folder, the linux kind of build without sanitizers or fakes.
#   fleet.sh             prints the figures
#   fleet.sh --check     fails when they differ from the published ones,
#                        tests/bench/fleet_figures.txt (the bench's output at
#                        its fixed seed, without its run time)
#   fleet.sh --publish   rewrites tests/bench/fleet_figures.txt
#   fleet.sh --speed     prints tavsn_judge's pairs per second on one core
# The figures are a measurement, not a pass/fail test of the judgment: the
# check only says that a change moved them, so that they are republished
# with the tables of docs/verdicts.md that quote them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode="${1:-print}"
case "$mode" in
  print|--check|--publish|--speed) ;;
  *) echo "usage: fleet.sh [--check|--publish|--speed]" >&2; exit 2 ;;
esac
bash "$root/scripts/setup.sh" linux

build="$root/build/fleet"
published="$root/tests/bench/fleet_figures.txt"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVSN_LINUX_PACKAGE=ON \
      -DTAVSN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build "$build" -j 2 --target tavsn_fleet_bench tavsn_judge_bench >&2
if [ "$mode" = --speed ]; then
  # Pairs per second of tavsn_judge on one core: varies with the machine, so
  # kept apart from the fleet's figures, which the seed fixes.
  exec "$build/tests/bench/tavsn_judge_bench"
fi
if [ "$mode" = print ]; then
  exec "$build/tests/bench/tavsn_fleet_bench"
fi

# The run time is the one line that differs from run to run.
figures="$(mktemp)"
trap 'rm -f "$figures"' EXIT
"$build/tests/bench/tavsn_fleet_bench" | grep -v '^run time ' >"$figures"
if [ "$mode" = --publish ]; then
  cp "$figures" "$published"
  echo "published $published; quote its figures in docs/verdicts.md"
  exit 0
fi
if ! diff -u "$published" "$figures"; then
  cat >&2 <<MESSAGE
fleet: the figures differ from the published ones (tests/bench/fleet_figures.txt).
A change of the judgment, the placeholder table or the bench moves them: republish
them with 'bash scripts/fleet.sh --publish' and update the tables of docs/verdicts.md
that quote them, in the same commit.
MESSAGE
  exit 1
fi
echo "fleet: the figures are the published ones"
