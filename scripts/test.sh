#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Nothing needs a display.
# The sanitizer builds run before the plain CTest run, so CTest's summary is the closing line.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" default
bash "$root/scripts/fuzz.sh" 30
bash "$root/scripts/sanitize.sh" all
# The Windows program: cross-built, packed, and tested under Wine on a display of its own.
bash "$root/scripts/windows.sh"

# The window and vertal-cli on the kernel's 8250 and FTDI drivers in a QEMU guest.
bash "$root/scripts/drivers.sh"

# The figures made of the protocol's own waits, against their budgets (fails when over).
bash "$root/scripts/bench.sh" --quick

# The Debian package of this build: validated, installed, started, removed.
deb="$(bash "$root/scripts/package.sh" "$build" | tail -n1)"
bash "$root/scripts/check-package.sh" "$deb" "$build"

export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --timeout 600 -j"$(nproc)"
