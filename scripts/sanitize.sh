#!/usr/bin/env bash
# Builds and runs the tests under the sanitizers, each in a build folder of its own:
#   build-asan  every test with AddressSanitizer + UndefinedBehaviorSanitizer (leaks fail),
#               the soak cut short to SOAK_SECONDS (default 45);
#   build-tsan  the link tests and the hostile-line tests with ThreadSanitizer.
# Quiet when green (one line per build); prints the failing tests' output otherwise.
#   scripts/sanitize.sh [asan|tsan|all]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
which="${1:-all}"
# The tests mostly wait on their lines and timers (the machine is under a fifth busy with six
# at once on two cores), so three per core.
jobs=$((3 * $(nproc)))
export QT_QPA_PLATFORM=offscreen

# The test programs that exercise threads on the link (two workers sharing one port) and in
# the monitor (a thread per line, the broker connection's own, vertal-cli monitor itself).
tsan_targets=(tst_framecodec tst_serialport tst_ccomport tst_hostilelink tst_networkline
    tst_linepoller tst_mqttbridge tst_monitor)
tsan_regex="^($(IFS='|'; echo "${tsan_targets[*]}"))\$"

run_ctest() { # <build dir> <label> [ctest args...]
    local dir="$1" label="$2" log start
    shift 2
    log="$dir/sanitize-ctest.log"
    start=$(date +%s)
    if (cd "$dir" && ctest --output-on-failure --timeout 900 "$@" >"$log" 2>&1); then
        echo "$label: $(grep -m1 'tests passed' "$log"), $(($(date +%s) - start)) s"
    else
        grep -v '^PASS   :' "$log" | tail -150
        echo "$label: FAILED (log: $log)"
        return 1
    fi
}

bash "$root/scripts/install-deps.sh"
if [[ "$which" == all || "$which" == asan ]]; then
    bash "$root/scripts/build.sh" asan >/dev/null
    VERTAL_SOAK_SECONDS="${SOAK_SECONDS:-45}" run_ctest "$root/build-asan" "asan+ubsan" -j"$jobs"
fi

if [[ "$which" == all || "$which" == tsan ]]; then
    bash "$root/scripts/build.sh" tsan -- "${tsan_targets[@]}" vertal-cli >/dev/null
    run_ctest "$root/build-tsan" "tsan (link)" -R "$tsan_regex" -j"$jobs"
fi
