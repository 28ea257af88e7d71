#!/usr/bin/env bash
# Long fuzzing runs of both harnesses, in the clang build folder build-fuzz.
#   bash bench/fuzz/run_fuzz.sh [seconds per harness, default 600]
# New inputs collect in build-fuzz/fuzz/<harness>/long-corpus (kept between runs, so a
# later run goes on from there); a crash or hang leaves its input beside it, named
# crash-*, timeout-* or leak-*, and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}

cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELKAT_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target image_loader firmware_packets -j2

status=0
run() {
  local name=$1; shift
  local work=build-fuzz/fuzz/$name
  mkdir -p "$work/long-corpus"
  echo "== $name: $seconds s"
  if ! build-fuzz/bin/$name -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
      -artifact_prefix="$work/" "$@" "$work/long-corpus" "fuzz/corpus/$name" 2>"$work/long-run.log"; then
    status=1
  fi
  grep -E "^(stat::number_of_executed_units|stat::average_exec_per_sec|#[0-9]+ +DONE)" "$work/long-run.log" || true
  grep -E "^(==[0-9]+==ERROR|SUMMARY|emulator property|loader property)" "$work/long-run.log" || true
}
# Lines longer than one 4095-byte piece too.
run image_loader -max_len=9000
run firmware_packets
exit $status
