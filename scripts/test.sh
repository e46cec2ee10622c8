#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Nothing needs a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

bash "$root/scripts/build.sh" "$build"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --timeout 600 -j"$(nproc)"

# Fuzz the reply decoder for about 30 s on a copy of the seed corpus; a crash fails the run.
fuzzbuild="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$fuzzbuild" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVERTAL_BUILD_FUZZERS=ON -DVERTAL_BUILD_TESTS=OFF -DVERTAL_BUILD_BENCH=OFF >/dev/null
cmake --build "$fuzzbuild" -j"$(nproc)" --target fuzz_decodeframe
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
cp "$root"/fuzz/corpus/decodeframe/* "$corpus"/
(cd "$fuzzbuild" && ./fuzz/fuzz_decodeframe -max_total_time=30 -print_final_stats=1 "$corpus")
