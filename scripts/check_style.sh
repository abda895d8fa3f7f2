#!/usr/bin/env bash
# Checks C and C++ files against .clang-format and names each file that
# differs; clang-format -i FILE applies the style.
#   check_style.sh             every C and C++ file under version control
#   check_style.sh FILE...     these files (others than C and C++ are passed over)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

files=()
if [ $# -eq 0 ]; then
  mapfile -d '' files < <(git ls-files -z '*.c' '*.cpp' '*.h')
else
  for file in "$@"; do
    case "$file" in
      *.c|*.cpp|*.h) [ -f "$file" ] && files+=("$file") ;;
    esac
  done
fi
[ ${#files[@]} -eq 0 ] && exit 0
if ! clang-format --dry-run --Werror "${files[@]}"; then
  echo "style: the files above differ from .clang-format; run clang-format -i on them" >&2
  exit 1
fi
