#!/bin/bash
# Builds the fuzz tree (build/fuzz: clang, libFuzzer, AddressSanitizer, UBSan) and runs
# every target in tests/fuzz for the given number of seconds each (default 30), from
# its seed corpus and dictionary. Fails on any crash, hang, leak or undefined
# behaviour; the input is left in build/fuzz/artifacts/.
#   scripts/fuzz.sh [seconds] [target ...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}
shift || true
build=$root/build/fuzz
"$root/scripts/deps.sh" fuzz
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DQZ_FUZZ=ON -DCMAKE_BUILD_TYPE= \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$build" -j 2 >/dev/null
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < "$build/fuzz_targets.txt"

dict_for() {
  case $1 in
    fuzz_inifilex|fuzz_iniprofile|fuzz_settings|fuzz_instance_rules) echo ini ;;
    fuzz_paths|fuzz_download_rules) echo paths ;;
    fuzz_ui_texts) echo ui ;;
    fuzz_stream_*) echo stream ;;
    fuzz_msi_rules|fuzz_prq_run|fuzz_feature_rules) echo msi ;;
    fuzz_xml|fuzz_prq) echo xml ;;
    fuzz_language_rules|fuzz_string_table|fuzz_support) echo language ;;
    *) echo switches ;;
  esac
}

mkdir -p "$build/artifacts"
status=0
for t in "${targets[@]}"; do
  seeds=$root/tests/fuzz/corpus/$t
  work=$build/corpus/$t  # grows across runs; the seeds in the tree stay as they are
  mkdir -p "$work"
  log=$build/$t.log
  if "$build/$t" "$work" "$seeds" -dict="$root/tests/fuzz/$(dict_for "$t").dict" \
       -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$t-" >"$log" 2>&1; then
    line=$(grep -E '^#[0-9]+' "$log" | tail -1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$line")
    execs=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-24s ok   cov: %-6s exec/s: %s\n' "$t" "$cov" "$execs"
  else
    printf '%-24s FAILED (log: %s)\n' "$t" "$log"
    grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$log" | head -5 || true
    status=1
  fi
done
exit $status
