#!/usr/bin/env bash
# Fuzzes the reply decoder for SECONDS (default 30) on a copy of the seed corpus.
# Built with clang's libFuzzer and sanitizers; a crash fails the run.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
fuzzbuild="$root/build-fuzz"

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" fuzz -- fuzz_decodeframe >/dev/null
corpus="$(mktemp -d)"
log="$fuzzbuild/fuzz_decodeframe.log"
trap 'rm -rf "$corpus"' EXIT
cp "$root"/fuzz/corpus/decodeframe/* "$corpus"/
if (cd "$fuzzbuild" && ./fuzz/fuzz_decodeframe -max_total_time="$seconds" \
        -print_final_stats=1 "$corpus" >"$log" 2>&1); then
    echo "fuzz_decodeframe: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs in ${seconds} s, no crash"
else
    tail -40 "$log"
    echo "fuzz_decodeframe: FAILED (log: $log)"
    exit 1
fi
