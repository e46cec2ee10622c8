#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. Nothing needs a display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

bash "$root/scripts/build.sh" "$build"
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure --timeout 600 -j"$(nproc)"
