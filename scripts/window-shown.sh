#!/usr/bin/env bash
# Starts the installed wizard on the current X display with DEVICE added to its ports and
# checks that its main window is mapped, with its title, and belongs to its launcher entry.
# A box instead of the window (no port, a failure) has another title and fails the check.
#   DISPLAY=... scripts/window-shown.sh DEVICE
set -euo pipefail
device="$1"
title="ВЕРТАЛ-КП Визард v.1.05"
export LC_ALL=C.UTF-8

runtime="$(mktemp -d)" # the session's runtime folder, which a bare X server lacks
VERTAL_EXTRA_PORTS="$device" XDG_RUNTIME_DIR="$runtime" /usr/bin/vertal-wizard &
wizard=$!
trap 'kill "$wizard" 2>/dev/null || true; rm -rf "$runtime"' EXIT

# The top-level window titled $1, once it is viewable. The main window exists, unmapped,
# while the no-port box is up: being viewable is what tells it is shown.
viewable_window() {
    local id
    for id in $(xwininfo -root -children | awk '/^ +0x/ {print $1}'); do
        if xprop -id "$id" _NET_WM_NAME 2>/dev/null | grep -qF "= \"$1\"" &&
            xwininfo -id "$id" | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
    done
    return 1
}

window=""
for _ in $(seq 1 150); do
    kill -0 "$wizard" 2>/dev/null || { echo "the wizard ended before its window showed" >&2; exit 1; }
    window="$(viewable_window "$title")" && break
    if viewable_window "ВЕРТАЛ-КП" >/dev/null; then
        echo "the wizard shows a message box instead of its window" >&2
        exit 1
    fi
    sleep 0.2
done
[ -n "$window" ] || { echo "no window titled '$title' within 30 s" >&2; exit 1; }

# On X11 the desktop finds the launcher entry through the window class.
wm_class="$(grep '^StartupWMClass=' /usr/share/applications/io.github.vertal.Wizard.desktop | cut -d= -f2)"
xprop -id "$window" WM_CLASS | grep -qF "\"$wm_class\"" ||
    { echo "window class is not '$wm_class': $(xprop -id "$window" WM_CLASS)" >&2; exit 1; }
echo "window $window shown: '$title', window class '$wm_class'"
