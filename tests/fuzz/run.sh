#!/usr/bin/env bash
# Builds the SMBIOS walk fuzzer with clang (libFuzzer, AddressSanitizer,
# UBSan) into BUILD_DIR and runs it for SECONDS on a working copy of the
# committed seed corpus. Findings land in BUILD_DIR/findings.
#   bash tests/fuzz/run.sh build/fuzz 30
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:?usage: run.sh BUILD_DIR SECONDS}"
seconds="${2:?usage: run.sh BUILD_DIR SECONDS}"
mkdir -p "$build/corpus" "$build/findings"
build="$(cd "$build" && pwd)"
clang++ -std=c++20 -g -O2 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -I"$root" \
  "$root/tests/fuzz/smbios_walk_fuzzer.cpp" "$root/sysinfo/smbios_info.cpp" "$root/sysinfo/raw_smbios.cpp" \
  "$root/log/diag_log.cpp" "$root/tests/fakes/fake_log_platform.cpp" "$root/tests/fakes/fake_wmi_platform.cpp" \
  "$root/tests/fakes/fake_base.cpp" \
  -o "$build/smbios_walk_fuzzer"
cp -n "$root"/tests/fuzz/corpus/smbios_walk/* "$build/corpus/" 2>/dev/null || true
cd "$build/findings"
"$build/smbios_walk_fuzzer" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  "$build/corpus" "$root/tests/fuzz/corpus/smbios_walk"
