#!/usr/bin/env bash
# Builds, then starts the unit simulator on a pseudo-terminal and the wizard with the
# simulator's line appended to its port list (VERTAL_EXTRA_PORTS). The simulator's console
# stays on this terminal (type "help"): quitting it (quit, Ctrl-D, Ctrl-C) closes the
# wizard, and closing the wizard ends the simulator.
#   scripts/demo.sh [simulator options]   default: --address 1 --speed 19200 --boards 0x29
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"

bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" default
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "No display. Run it in a virtual one:  xvfb-run -a -s '-screen 0 1024x768x24' bash scripts/demo.sh"
    exit 1
fi

sim="$build/sim/vertal-unit-sim"
wizard="$build/app/vertal-wizard"
link="$build/vertal-unit"
[ $# -gt 0 ] || set -- --address 1 --speed 19200 --boards 0x29 --firmware 1.5

simpid=""
wizpid=""
stop_both() {
    for pid in $wizpid $simpid; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}
trap stop_both EXIT
trap 'exit 130' INT TERM

# A background job would read /dev/null; hand the simulator this terminal's input.
exec 3<&0
"$sim" --link "$link" "$@" <&3 &
simpid=$!
exec 3<&-

for _ in $(seq 100); do
    [ -L "$link" ] && break
    kill -0 "$simpid" 2>/dev/null || exit 1
    sleep 0.1
done
[ -L "$link" ] || { echo "The simulator did not come up." >&2; exit 1; }

echo "The unit's line is $link: pick it (the last port) in the wizard, address 0 or 1, press Старт."
echo "Simulator commands: type help."
VERTAL_EXTRA_PORTS="$link${VERTAL_EXTRA_PORTS:+:$VERTAL_EXTRA_PORTS}" "$wizard" </dev/null &
wizpid=$!

# Whichever ends first ends the other (the EXIT trap).
wait -n "$simpid" "$wizpid" || true
