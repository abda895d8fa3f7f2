#!/usr/bin/env bash
# The check before every commit, in minutes rather than the full test run's
# half hour: set-up, the style of the C and C++ files the change touches,
# the native build and its tests, and, for a change to the judgment (server/)
# or its benchmark (tests/bench/), the fleet figures against the published
# ones. Stops at the first step that fails.
# The change is everything that differs from the merge base with main,
# committed or not, untracked files included; PRESUBMIT_BASE names another
# base. Without that base everything counts as changed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
base="${PRESUBMIT_BASE:-main}"

step() { printf '\n== presubmit: %s\n' "$*"; }

step "set-up"
bash scripts/setup.sh native linux

changed=()
if fork="$(git merge-base "$base" HEAD 2>/dev/null)"; then
  mapfile -t changed < <({ git diff --name-only --diff-filter=d "$fork"
                           git ls-files --others --exclude-standard; } | sort -u)
  whole=no
else
  echo "presubmit: no base '$base'; checking everything" >&2
  whole=yes
fi

step "style"
if [ "$whole" = yes ]; then
  bash scripts/check_style.sh
elif [ ${#changed[@]} -gt 0 ]; then
  bash scripts/check_style.sh "${changed[@]}"
fi

step "native build and tests"
bash scripts/build.sh native
(cd build/native && ctest --output-on-failure -j "$(nproc)")

judgment=no
[ "$whole" = yes ] && judgment=yes
for file in "${changed[@]}"; do
  case "$file" in server/*|tests/bench/*) judgment=yes ;; esac
done
if [ "$judgment" = yes ]; then
  step "fleet figures (the change touches server/ or tests/bench/)"
  bash scripts/fleet.sh --check
fi
step "passed"
