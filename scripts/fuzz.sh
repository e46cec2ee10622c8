#!/usr/bin/env bash
# Fuzzes the reply decoder, the Telnet decoder of a serial server's connection, then a
# network line's opening and one exchange against a server sending what the fuzzer makes,
# each for SECONDS (default 30) on a copy of its seed corpus.
# Built with clang's libFuzzer and sanitizers; a crash fails the run.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
fuzzbuild="$root/build-fuzz"

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" fuzz -- fuzz_decodeframe fuzz_telnetdecoder fuzz_networkline >/dev/null
# Runs one target on a copy of fuzz/corpus/CORPUS, with further libFuzzer OPTIONS.
#   fuzz_one TARGET CORPUS [OPTIONS...]
fuzz_one() {
    local target="$1" corpus
    corpus="$(mktemp -d)"
    local log="$fuzzbuild/$target.log"
    cp "$root"/fuzz/corpus/"$2"/* "$corpus"/
    if (cd "$fuzzbuild" && ./fuzz/"$target" -max_total_time="$seconds" \
            -print_final_stats=1 "${@:3}" "$corpus" >"$log" 2>&1); then
        echo "$target: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs in ${seconds} s, no crash"
        rm -rf "$corpus"
    else
        tail -40 "$log"
        echo "$target: FAILED (log: $log)"
        rm -rf "$corpus"
        exit 1
    fi
}
fuzz_one fuzz_decodeframe decodeframe
fuzz_one fuzz_telnetdecoder telnetdecoder
# A line per input against a server on a thread: each input ends in milliseconds (the
# server ends the connection rather than let the opening wait out its deadline), so a second
# is a hang. The memory is bounded too: 59 MB at most, measured over 15 minutes.
fuzz_one fuzz_networkline networkline -timeout=1 -rss_limit_mb=64 -max_len=4096
