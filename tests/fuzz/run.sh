#!/usr/bin/env bash
# Builds one fuzzer with clang (libFuzzer, AddressSanitizer, UBSan) into
# BUILD_DIR and runs it for SECONDS on a working copy of its committed seed
# corpus. Findings land in BUILD_DIR/findings.
#   bash tests/fuzz/run.sh build/fuzz 30                 # the SMBIOS walk
#   bash tests/fuzz/run.sh build/fuzz-id 600 identifier  # identifier parser and decoder
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
usage="usage: run.sh BUILD_DIR SECONDS [smbios_walk|identifier]"
build="${1:?$usage}"
seconds="${2:?$usage}"
fuzzer="${3:-smbios_walk}"
case "$fuzzer" in
  smbios_walk)
    sources=(sysinfo/smbios_info.cpp sysinfo/raw_smbios.cpp log/diag_log.cpp tests/fakes/fake_log_platform.cpp
             tests/fakes/fake_wmi_platform.cpp tests/fakes/fake_base.cpp)
    max_len=4096 ;;
  identifier)
    sources=(server/identifier.cpp server/compare.cpp api/identifier_records.cpp)
    max_len=80 ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
mkdir -p "$build/corpus" "$build/findings"
build="$(cd "$build" && pwd)"
clang++ -std=c++20 -g -O2 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$root" "$root/tests/fuzz/${fuzzer}_fuzzer.cpp" "${sources[@]/#/$root/}" \
  -o "$build/${fuzzer}_fuzzer"
cp -n "$root/tests/fuzz/corpus/$fuzzer"/* "$build/corpus/" 2>/dev/null || true
cd "$build/findings"
"$build/${fuzzer}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 \
  "$build/corpus" "$root/tests/fuzz/corpus/$fuzzer"
