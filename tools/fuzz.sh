#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it on a corpus that the
# build makes itself, plus the BMP Suite when it lies beside the project.
#   tools/fuzz.sh [SECONDS]      (default 60; CI runs the default)
# Findings go to build-fuzz/artifacts/; the corpus grows in build-fuzz/corpus/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPICTRIM_SANITIZE=address,undefined -DPICTRIM_BUILD_FUZZ=ON -DPICTRIM_BUILD_GUI=OFF -DPICTRIM_BUILD_TESTS=OFF
cmake --build build-fuzz -j "$(nproc)" --target fuzz_conversion_job

mkdir -p build-fuzz/corpus build-fuzz/artifacts
python3 fuzz/make_seed_corpus.py build-fuzz/corpus
extra=()
for d in ../shared/bmpsuite/g ../shared/bmpsuite/q ../shared/bmpsuite/b; do
  [ -d "$d" ] && extra+=("$d")
done
# The harness removes its working folder in /dev/shm when it ends; after a
# sanitizer's report, which ends it at once, this script does.
build-fuzz/fuzz/fuzz_conversion_job -max_total_time="$seconds" -print_final_stats=1 -timeout=20 \
  -artifact_prefix=build-fuzz/artifacts/ build-fuzz/corpus "${extra[@]}" &
pid=$!
trap 'rm -rf /dev/shm/pictrim-fuzz-"$pid"-* /tmp/pictrim-fuzz-"$pid"-*' EXIT
wait "$pid"
