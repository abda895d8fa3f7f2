#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UBSan)
# into BUILD_DIR and runs each for SECONDS on a working copy of its committed
# seed corpus (tests/fuzz/corpus/TARGET). Without TARGET names every target
# runs, one after the other. Findings land in BUILD_DIR/findings/TARGET, the
# fuzzer's output in BUILD_DIR/TARGET.log.
#   bash tests/fuzz/run.sh build/fuzz 30
#   bash tests/fuzz/run.sh build/fuzz 600 mac_text diag_log
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
usage="usage: run.sh BUILD_DIR SECONDS [TARGET...]"
build="${1:?$usage}"
seconds="${2:?$usage}"
shift 2
all_targets=(smbios_walk mac_text adapter_registry diag_log identifier)
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then targets=("${all_targets[@]}"); fi

# The product and fake sources each target links, and its longest input.
sources_of() {
  case "$1" in
    smbios_walk) echo sysinfo/smbios_info.cpp sysinfo/raw_smbios.cpp log/diag_log.cpp \
                      tests/fakes/fake_log_platform.cpp tests/fakes/fake_wmi_platform.cpp \
                      tests/fakes/fake_base.cpp ;;
    mac_text) echo api/identifier_records.cpp netadapter/ndis_query.cpp log/diag_log.cpp \
                   tests/fakes/fake_log_platform.cpp tests/fakes/fake_net_platform.cpp \
                   tests/fakes/fake_base.cpp ;;
    adapter_registry) echo netadapter/adapter_registry.cpp netadapter/ndis_query.cpp log/diag_log.cpp \
                           tests/fakes/fake_log_platform.cpp tests/fakes/fake_net_platform.cpp \
                           tests/fakes/fake_base.cpp ;;
    diag_log) echo log/diag_log.cpp tests/fakes/fake_log_platform.cpp tests/fakes/fake_base.cpp ;;
    identifier) echo server/identifier.cpp server/fingerprint.cpp server/display_text.cpp server/evidence.cpp server/compare.cpp \
                     api/identifier_records.cpp ;;
    *) return 1 ;;
  esac
}
max_len_of() {
  case "$1" in
    smbios_walk) echo 4096 ;;
    mac_text) echo 64 ;;
    adapter_registry) echo 4096 ;;
    diag_log) echo 12000 ;;
    identifier) echo 80 ;;
  esac
}

for target in "${targets[@]}"; do
  if ! sources_of "$target" >/dev/null; then
    echo "run.sh: unknown target '$target' (known: ${all_targets[*]})" >&2
    exit 2
  fi
done

mkdir -p "$build"
build="$(cd "$build" && pwd)"
failed=()
for target in "${targets[@]}"; do
  sources=()
  for source in $(sources_of "$target"); do sources+=("$root/$source"); done
  binary="$build/${target}_fuzzer"
  clang++ -std=c++20 -g -O2 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root" "$root/tests/fuzz/${target}_fuzzer.cpp" "${sources[@]}" -o "$binary"
  mkdir -p "$build/corpus/$target" "$build/findings/$target"
  cp -n "$root/tests/fuzz/corpus/$target"/* "$build/corpus/$target/" 2>/dev/null || true
  echo "=== $target: ${seconds} s"
  # A finding is reported at the end; the other targets still run.
  status=0
  (cd "$build/findings/$target" &&
   "$binary" -max_total_time="$seconds" -max_len="$(max_len_of "$target")" -print_final_stats=1 \
     "$build/corpus/$target" "$root/tests/fuzz/corpus/$target") >"$build/$target.log" 2>&1 || status=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^Done |^stat::|ERROR|SUMMARY|fuzz check failed' "$build/$target.log" || true
  if [ "$status" -ne 0 ]; then failed+=("$target"); fi
done

if [ "${#failed[@]}" -ne 0 ]; then
  echo "run.sh: findings in: ${failed[*]} (see $build/findings and $build/<target>.log)" >&2
  exit 1
fi
