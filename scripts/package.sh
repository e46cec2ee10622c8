#!/usr/bin/env bash
# Builds the Debian package of the wizard and the unit simulator (installs what it needs,
# builds, runs CPack). The last line printed is the path of the package.
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath -m "${1:-$root/build}")"

# dpkg-shlibdeps (dpkg-dev) finds the libraries the package depends on.
bash "$root/scripts/install-deps.sh" dpkg-dev file
bash "$root/scripts/build.sh" "$build"
cd "$build"
rm -f vertal-wizard_*.deb
if ! log="$(cpack -G DEB 2>&1)"; then
    echo "$log" >&2
    exit 1
fi
deb="$(ls "$build"/vertal-wizard_*.deb)"
echo "$deb"
