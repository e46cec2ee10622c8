#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Nothing needs a display.
# The sanitizer builds run before the plain CTest run, so CTest's summary is the closing line;
# before it, a table of the phases and their seconds.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

phases=()
# phase NAME COMMAND...: runs a phase and notes its seconds for the table.
phase() {
    local name="$1" start=$SECONDS
    shift
    "$@"
    phases+=("$(printf '%-34s %5d s' "$name" $((SECONDS - start)))")
}

# The phases that mostly wait (Wine's programs and the QEMU guest on their serial lines) run
# beside the others; their output goes to a log each, shown whole when the phase fails.
logs="$build/test-logs"
background=()
# beside NAME COMMAND...: starts a phase in the background.
beside() {
    local name="$1" slug
    shift
    slug="$(echo "$name" | tr -c 'a-zA-Z0-9\n' '-')"
    mkdir -p "$logs"
    (
        start=$SECONDS
        rc=0
        "$@" >"$logs/$slug.log" 2>&1 || rc=$?
        echo "$((SECONDS - start)) $rc" >"$logs/$slug.result"
    ) &
    background+=("$!:$name:$slug")
}
# Waits for every background phase; fails (showing its log) when one did.
await_beside() {
    local entry pid name slug seconds rc failed=0
    for entry in "${background[@]}"; do
        IFS=: read -r pid name slug <<<"$entry"
        wait "$pid" || true
        read -r seconds rc <"$logs/$slug.result"
        phases+=("$(printf '%-34s %5d s (beside the others)' "$name" "$seconds")")
        if [ "$rc" != 0 ]; then
            cat "$logs/$slug.log"
            echo "$name: FAILED (exit $rc, log: $logs/$slug.log)"
            failed=1
        fi
    done
    return $failed
}

package_and_check() {
    local deb
    deb="$(bash "$root/scripts/package.sh" "$build" | tail -n1)"
    bash "$root/scripts/check-package.sh" "$deb" "$build"
}

# Every phase's packages at once: the phases that run side by side must not both start apt.
phase "packages" bash "$root/scripts/install-deps.sh" \
    g++-mingw-w64-x86-64-posix ninja-build wine64 nsis xdotool imagemagick \
    qemu-system-x86 busybox-static cpio socat \
    desktop-file-utils appstream lintian x11-utils dpkg-dev file
phase "build" bash "$root/scripts/build.sh" default
# The Windows program: cross-built, packed, and tested under Wine on a display of its own.
beside "Windows build and Wine" bash "$root/scripts/windows.sh"
# The window and vertal-cli on the kernel's 8250 and FTDI drivers in a QEMU guest.
beside "real drivers (QEMU)" bash "$root/scripts/drivers.sh"
phase "fuzzing" bash "$root/scripts/fuzz.sh" 30
phase "sanitizer builds and tests" bash "$root/scripts/sanitize.sh" all
phase "waiting for the phases beside" await_beside
# The figures made of the protocol's own waits, against their budgets (fails when over):
# on a machine that runs nothing else.
phase "benchmark guard" bash "$root/scripts/bench.sh" --quick
# The Debian package of this build: validated, installed, started, removed.
phase "Debian package" package_and_check

export QT_QPA_PLATFORM=offscreen
cd "$build"
echo "phase                              seconds"
printf '%s\n' "${phases[@]}"
printf '%-34s %5d s (CTest follows)\n' "total before CTest" "$SECONDS"
# Three tests per core: they mostly wait on their lines and timers.
ctest --output-on-failure --timeout 600 -j$((3 * $(nproc)))
