#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need.
# Asks dpkg first; apt-get runs only when something is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config dpkg-dev
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
    qt6-base-private-dev qt6-l10n-tools qt6-tools-dev
    qt6-translations-l10n
    clang libclang-rt-14-dev
    xvfb xauth
    librsvg2-bin
    ser2net iproute2
    ccache
    mosquitto mosquitto-clients libmosquitto-dev libsystemd-dev openssl
)
# Packages a script needs beyond these (packaging, validation), named as arguments.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
