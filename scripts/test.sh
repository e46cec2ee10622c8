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

package_and_check() {
    local deb
    deb="$(bash "$root/scripts/package.sh" "$build" | tail -n1)"
    bash "$root/scripts/check-package.sh" "$deb" "$build"
}

phase "packages" bash "$root/scripts/install-deps.sh"
phase "build" bash "$root/scripts/build.sh" default
phase "fuzzing" bash "$root/scripts/fuzz.sh" 30
phase "sanitizer builds and tests" bash "$root/scripts/sanitize.sh" all
# The Windows program: cross-built, packed, and tested under Wine on a display of its own.
phase "Windows build and Wine" bash "$root/scripts/windows.sh"
# The window and vertal-cli on the kernel's 8250 and FTDI drivers in a QEMU guest.
phase "real drivers (QEMU)" bash "$root/scripts/drivers.sh"
# The figures made of the protocol's own waits, against their budgets (fails when over).
phase "benchmark guard" bash "$root/scripts/bench.sh" --quick
# The Debian package of this build: validated, installed, started, removed.
phase "Debian package" package_and_check

export QT_QPA_PLATFORM=offscreen
cd "$build"
echo "phase                              seconds"
printf '%s\n' "${phases[@]}"
printf '%-34s %5d s (CTest follows)\n' "total before CTest" "$SECONDS"
ctest --output-on-failure --timeout 600 -j"$(nproc)"
