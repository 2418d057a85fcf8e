#!/usr/bin/env bash
# Builds the engine's fuzz target with clang into build-fuzz/ and runs it for SECONDS
# (20 by default), starting from the committed seeds in fuzz/corpus. What it learns goes
# to build-fuzz/corpus, so a later run carries on from there; an input that breaks a
# property is saved in build-fuzz/crashes/ and the run fails.
#   fuzz/run.sh [SECONDS] [libFuzzer options...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

seconds=${1:-20}
shift || true

tw_need_packages clang libclang-rt-14-dev
if [ ! -f build-fuzz/build.ninja ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWHISTLE_FUZZ=ON -DTARNWHISTLE_BUILD_GUI=OFF -DTARNWHISTLE_BUILD_TESTS=OFF -DTARNWHISTLE_BUILD_BENCH=OFF
fi
cmake --build build-fuzz --target tarnwhistle-fuzz  # the engine and its file layer, not the rest

mkdir -p build-fuzz/corpus build-fuzz/crashes
log=build-fuzz/fuzz.log
echo "Fuzzing the engine for ${seconds} s (log: $log)"
if ! build-fuzz/bin/tarnwhistle-fuzz build-fuzz/corpus fuzz/corpus -max_total_time="$seconds" -max_len=4096 \
  -timeout=10 -print_final_stats=1 -artifact_prefix=build-fuzz/crashes/ "$@" >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "fuzz/run.sh: the fuzz target failed; the input is in build-fuzz/crashes/" >&2
  exit 1
fi
grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' "$log"
