#!/usr/bin/env bash
# Configures and builds one of the presets of CMakePresets.json (default: the plain one in
# build/): default, asan, tsan, fuzz. A folder instead of a preset builds the plain
# configuration there. Installs nothing: the commands that need packages install them.
#   scripts/build.sh [PRESET|BUILD_DIR] [extra cmake arguments...] [-- build targets...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:-default}"
shift || true

configure=()
targets=()
while [ $# -gt 0 ]; do
    if [ "$1" = -- ]; then
        shift
        targets=(--target "$@")
        break
    fi
    configure+=("$1")
    shift
done

case "$target" in
default | asan | tsan | fuzz) preset="$target" build="" ;;
*) preset=default build="$target" ;;
esac
cd "$root"
if [ -n "$build" ]; then
    cmake --preset "$preset" -B "$build" "${configure[@]}" >/dev/null
    cmake --build "$build" -j"$(nproc)" "${targets[@]}"
else
    cmake --preset "$preset" "${configure[@]}" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)" "${targets[@]}"
fi
