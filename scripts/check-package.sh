#!/usr/bin/env bash
# Checks the Debian package the way a technician's machine meets it: its files and their
# metadata are valid, lintian finds nothing above info and no hardening missing, it
# installs with apt-get, the installed wizard answers --version and shows its window, the
# monitoring service's unit passes systemd-analyze verify and is left disabled, and removing
# it leaves no file behind.
#   scripts/check-package.sh PACKAGE.deb [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deb="$(realpath "$1")"
build="$(realpath "${2:-$root/build}")"
id=io.github.vertal.Wizard
export LC_ALL=C.UTF-8 DEBIAN_FRONTEND=noninteractive
apt_get=(apt-get -o DPkg::Lock::Timeout=600 -y -qq)

# systemd-analyze (systemd) and man (man-db, which it runs for the unit's Documentation=).
bash "$root/scripts/install-deps.sh" desktop-file-utils appstream lintian x11-utils xvfb xauth \
    systemd man-db

work="$(mktemp -d)"
cleanup() {
    rm -rf "$work"
    if dpkg -s vertal-wizard >/dev/null 2>&1; then "${apt_get[@]}" purge vertal-wizard >/dev/null; fi
}
trap cleanup EXIT
fail() {
    echo "check-package: $*" >&2
    exit 1
}
step() { echo "== $*"; }

step "contents: exactly the programs, the desktop files, the manual pages, the docs and the service"
expected="$work/expected"
{
    printf '%s\n' /usr/bin/vertal-wizard /usr/bin/vertal-unit-sim /usr/bin/vertal-cli \
        /usr/share/applications/$id.desktop /usr/share/metainfo/$id.metainfo.xml \
        /usr/share/icons/hicolor/scalable/apps/$id.svg \
        /usr/share/man/man1/vertal-wizard.1.gz /usr/share/man/man1/vertal-unit-sim.1.gz \
        /usr/share/man/man1/vertal-cli.1.gz \
        /usr/share/doc/vertal-wizard/copyright /usr/share/doc/vertal-wizard/changelog.gz \
        /usr/share/lintian/overrides/vertal-wizard \
        /lib/systemd/system/vertal-monitor.service /usr/lib/sysusers.d/vertal-monitor.conf \
        /usr/share/doc/vertal-wizard/examples/monitor.example.json
    for size in 16 24 32 48 64 128 256; do
        echo "/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
    done
} | sort >"$expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}' | sort >"$work/files"
diff -u "$expected" "$work/files" || fail "the package holds other files than these"
# The install rules alone, without CPack: the tests, benchmarks and fuzzers have none.
DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr >/dev/null
(cd "$work/destdir" && find . ! -type d | sed 's/^\.//' | sort) >"$work/installed-files"
diff -u "$expected" "$work/installed-files" || fail "cmake --install installs other files than these"

dpkg-deb -x "$deb" "$work/root"
for program in "$work"/root/usr/bin/*; do
    if readelf -d "$program" | grep -qE 'RPATH|RUNPATH'; then fail "$program carries a run path"; fi
    if readelf -S "$program" | grep -q '\.debug_'; then fail "$program is not stripped"; fi
done
# Paths of this machine's build: the build folder, and source files named by the compiler.
leaks=(-e "$build/")
for dir in app link sim workflow liveview cli unit monitor; do leaks+=(-e "$root/$dir/"); done
if grep -rlF "${leaks[@]}" "$work/root"; then fail "build or source paths in the files above"; fi
for size in 16 24 32 48 64 128 256; do
    file "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/$id.png" |
        grep -q "$size x $size" || fail "icon ${size}x${size} has another size"
done

step "desktop entry and metainfo"
desktop-file-validate "$work/root/usr/share/applications/$id.desktop"
# Pedantic, but for what stays: the id's upper-case letters (the desktop entry, the icons
# and the program's desktop name all carry the id; a new one would be another program to
# a software centre), and one developer element that only the other AppStream generation
# knows (1.0's <developer> is unknown to 0.16; 0.16's <developer_name> is deprecated in 1.0).
appstream_known=(-e cid-contains-uppercase-letter -e "unknown-tag developer$"
    -e developer-name-tag-deprecated)
report="$(appstreamcli validate --pedantic --no-net "$work/root/usr/share/metainfo/$id.metainfo.xml")" ||
    fail "the metainfo does not validate: $report"
echo "$report"
if echo "$report" | grep -E '^[EWIP]: ' | grep -qv "${appstream_known[@]}"; then
    fail "the metainfo has remarks beyond the known ones"
fi
# The metainfo together with the desktop entry it launches, as installed.
appstreamcli validate-tree --no-net "$work/root" >/dev/null

step "lintian (a warning, an error or a hardening tag fails; pedantic tags are shown)"
report="$(lintian -I --pedantic --show-overrides --fail-on none --tag-display-limit 0 "$deb" 2>&1)" ||
    fail "lintian did not run: $report"
report="$(echo "$report" | grep -v -e "root privileges" -e "^$" || true)"
echo "${report:-no tags}"
if echo "$report" | grep -E '^[EW]: |^[IPX]: .*hardening-'; then
    fail "lintian: the tags above"
fi

step "install"
# The wizard loads Qt's Russian catalogue of its standard texts at start ("Да" on a box).
dpkg-deb -f "$deb" Depends | grep -qw qt6-translations-l10n ||
    fail "the package does not depend on qt6-translations-l10n"
"${apt_get[@]}" install "$deb" >/dev/null
[ -f /usr/share/qt6/translations/qtbase_ru.qm ] ||
    fail "installed, but Qt's Russian texts (qtbase_ru.qm) are not there"
dpkg -L vertal-wizard | sort >"$work/installed"
version="$(/usr/bin/vertal-wizard --version)"
[ "$version" = "vertal-wizard 1.05" ] || fail "--version says '$version'"
echo "$version"
/usr/bin/vertal-wizard --help | grep -q -- '--version' || fail "--help lists no --version"
cli_version="$(/usr/bin/vertal-cli --version)"
[ "$cli_version" = "vertal-cli 1.05" ] || fail "vertal-cli --version says '$cli_version'"

step "the monitoring service: its unit verifies, its account exists, nothing enabled it"
service=/lib/systemd/system/vertal-monitor.service
# verify exits 0 on a key it does not know and only says so: any word from it fails.
complaints="$(systemd-analyze verify "$service" 2>&1)" || fail "systemd-analyze verify: $complaints"
[ -z "$complaints" ] || fail "systemd-analyze verify has remarks: $complaints"
# The hardening of the unit as systemd rates it (0 best, 10 worst); 1.8 when written.
systemd-analyze security --offline=true --threshold=25 "$service" | tail -n 1 ||
    fail "the service's exposure rose above 2.5 (systemd-analyze security)"
getent passwd vertal-monitor >/dev/null || fail "the postinst made no vertal-monitor account"
getent group dialout >/dev/null || fail "no dialout group for the service's serial lines"
state="$(systemctl is-enabled vertal-monitor.service 2>&1 || true)"
[ "$state" = disabled ] || fail "the service is '$state' after install, not disabled"
# The example passes the monitor's whole check of a configuration: what stops it is the
# password file, which is the site's to make.
example=/usr/share/doc/vertal-wizard/examples/monitor.example.json
said="$(/usr/bin/vertal-cli monitor --config "$example" 2>&1)" && fail "the example started a monitor"
echo "$said" | grep -q "mqtt.password_file: /etc/vertal/mqtt-password" ||
    fail "the example configuration is refused: $said"

step "the installed wizard shows its window"
mkfifo "$work/sim-in"
/usr/bin/vertal-unit-sim <"$work/sim-in" >"$work/sim-out" &
sim=$!
exec 3>"$work/sim-in" # the simulator runs while this stays open
for _ in $(seq 1 50); do
    [ -s "$work/sim-out" ] && break
    sleep 0.1
done
device="$(head -n1 "$work/sim-out")"
[ -e "$device" ] || fail "the installed simulator gave no line ('$device')"
xvfb-run -a -s '-screen 0 1024x768x24' bash "$root/scripts/window-shown.sh" "$device"
exec 3>&-
wait "$sim"

step "remove"
"${apt_get[@]}" remove vertal-wizard >/dev/null
if dpkg -s vertal-wizard >/dev/null 2>&1; then fail "dpkg still knows the package after removal"; fi
left=""
while read -r path; do
    if grep -qxF "$path" "$work/files"; then
        if [ -e "$path" ] || [ -L "$path" ]; then left+="$path "; fi
    else
        # Directories such as /usr/share/icons/hicolor/48x48/apps belong to others as well
        # (and /lib is /usr/lib's link on a merged /usr); the package's own must go.
        case "$path" in /usr/share/doc/vertal-wizard | /usr/share/doc/vertal-wizard/*)
            if [ -e "$path" ]; then left+="$path "; fi
            ;;
        esac
    fi
done <"$work/installed"
left+="$(ls /var/lib/dpkg/info/vertal-wizard.* 2>/dev/null | tr '\n' ' ' || true)"
[ -z "$left" ] || fail "left behind: $left"
echo "package checked: $(basename "$deb"), $(stat -c %s "$deb") bytes"
