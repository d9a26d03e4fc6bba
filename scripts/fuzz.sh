#!/usr/bin/env bash
# Builds the libFuzzer target with clang 14 (address and undefined-behaviour
# sanitizers) in build/fuzz and runs it for the given number of seconds
# (default 60). The corpus starts from the choices of the fixed CI seeds and
# grows in build/fuzz/corpus; a failing input is left as build/fuzz/crash-*
# and replays with: build/fuzz/bin/reliability_fuzz FILE
#
#   scripts/fuzz.sh [seconds]
set -euo pipefail

seconds=${1:-60}
cd "$(dirname "$0")/.."
build=build/fuzz
flags="-O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DVIDAZOHX_BUILD_FUZZ=ON -DVIDAZOHX_BUILD_BENCHMARKS=OFF -DVIDAZOHX_PACKAGE_TESTS=OFF >/dev/null
cmake --build "$build" --target reliability_fuzz reliability_sequences

export LD_LIBRARY_PATH="$PWD/$build/lib"
export ASAN_OPTIONS=detect_leaks=1
mkdir -p "$build/corpus"
if [[ -z "$(ls -A "$build/corpus")" ]]; then
  "$build/bin/reliability_sequences" --count 256 --write-corpus "$build/corpus" >/dev/null
fi
"$build/bin/reliability_fuzz" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 \
  -artifact_prefix="$build/" "$build/corpus"
