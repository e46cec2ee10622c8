#!/usr/bin/env bash
# Builds the wizard and starts it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

bash "$root/scripts/build.sh" "$build"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "No display. Run it in a virtual one:  xvfb-run -a -s '-screen 0 1024x768x24' bash scripts/demo.sh"
    exit 1
fi
exec "$build/app/vertal-wizard"
