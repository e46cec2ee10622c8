#!/usr/bin/env bash
# The wizard for 64-bit Windows. Cross-builds it with Debian's MinGW-w64 against the Qt in
# ../shared/toolchains (beside the repository), gathers it and vertal-cli with the DLLs they
# need, packs a
# zip and an NSIS installer, and tests it under Wine: the Windows test programs against the
# unit simulator on a COM port of a fresh Wine prefix, then the installed wizard on a
# virtual display, driven with xdotool like an operator would, and the installed vertal-cli
# against the same unit.
#   scripts/windows.sh [build|package|wine|all]     (all; each step does the ones before it)
#   scripts/windows.sh network    (build, then only vertal-cli.exe and the wizard against a
#                                  host ser2net)
#   scripts/windows.sh cli                          (build, package, then vertal-cli alone)
# Needs the Linux simulator (build/sim/vertal-unit-sim, made by scripts/build.sh) for "wine".
# Out: build-win/out/vertal-wizard-1.05-win64.zip, build-win/out/vertal-wizard-1.05-setup.exe,
#      build-win/wine/ (test logs, screenshots).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
step="${1:-all}"

# The toolchains folder sits beside the repository (VERTAL_TOOLCHAINS names another).
toolchains="${VERTAL_TOOLCHAINS:-$root/../shared/toolchains}"
archive="$toolchains/qt6-win64-6.4.2-mingw.tar.xz"
qt="$root/build-win-qt/qt6-win64"
build="$root/build-win"
dist="$build/vertal-wizard-1.05"
out="$build/out"
work="$build/wine"
sim="$root/build/sim/vertal-unit-sim"
com=COM12 # the simulator's line as Windows programs see it
mingw_dlls=(/usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
export PATH="$PATH:/usr/lib/wine" # Debian's wine64 keeps its loader there
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

say() { printf '[windows] %s\n' "$*"; }
fail() {
    printf '[windows] FAILED: %s\n' "$*" >&2
    exit 1
}
# fail_showing MESSAGE LOG...: fails with the ends of the logs that tell why, since a CI run
# keeps nothing but its output.
fail_showing() {
    local message="$1" log
    shift
    for log in "$@"; do
        [ -f "$log" ] || continue
        printf '[windows] the end of %s:\n' "$log" >&2
        tail -n 45 "$log" | sed 's/^/    /' >&2
    done
    fail "$message"
}

install_packages() {
    # The host build's packages (cmake, the Qt tools moc, uic, rcc, Qt's translations) and
    # the Windows ones.
    bash "$root/scripts/install-deps.sh" g++-mingw-w64-x86-64-posix ninja-build wine64 nsis \
        xdotool imagemagick
}

# Qt's Russian catalogue of its standard texts, which the wizard loads from "translations"
# beside it: the Windows Qt's own when it has one, else Debian's (the same Qt 6.4.2; a .qm
# file is the same on every platform).
qt_translation() {
    local f
    for f in "$qt/translations/qtbase_ru.qm" /usr/share/qt6/translations/qtbase_ru.qm; do
        if [ -f "$f" ]; then
            echo "$f"
            return
        fi
    done
    fail "no qtbase_ru.qm (Debian package qt6-translations-l10n)"
}

unpack_qt() {
    local stamp="$root/build-win-qt/.archive"
    local sum
    [ -f "$archive" ] || fail "no Qt for Windows at $archive"
    sum="$(stat -c '%s %Y' "$archive")"
    if [ -x "$qt/bin/qt-cmake" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$sum" ]; then
        return
    fi
    say "unpacking $(basename "$archive")"
    rm -rf "$root/build-win-qt"
    mkdir -p "$root/build-win-qt"
    tar -xJf "$archive" -C "$root/build-win-qt"
    echo "$sum" >"$stamp"
}

cross_build() {
    install_packages
    unpack_qt
    if [ ! -f "$build/build.ninja" ]; then
        "$qt/bin/qt-cmake" -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DVERTAL_BUILD_BENCH=OFF >/dev/null
    fi
    cmake --build "$build" -j"$(nproc)"
}

# The DLLs a Windows program or library imports, one name a line.
imports() {
    x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*DLL Name: //p'
}

# Copies into the folder of $1 every DLL it needs from Qt or the MinGW runtime, and theirs.
copy_needs() {
    local dll dir
    for dll in $(imports "$1"); do
        [ -f "$dist/$dll" ] && continue
        for dir in "$qt/bin" "${mingw_dlls[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$dist/"
                copy_needs "$dist/$dll"
                break
            fi
        done
    done
}

gather() {
    rm -rf "$dist"
    mkdir -p "$dist/platforms" "$dist/styles" "$dist/translations"
    cp "$build/vertal-wizard.exe" "$build/vertal-cli.exe" "$dist/"
    cp "$(qt_translation)" "$dist/translations/"
    cp "$qt/plugins/platforms/qwindows.dll" "$dist/platforms/"
    cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
    local f
    for f in "$dist"/*.exe "$dist"/platforms/*.dll "$dist"/styles/*.dll; do
        copy_needs "$f"
    done
    # Copies only: the symbols stay in the toolchain's own files.
    find "$dist" -name '*.dll' -o -name '*.exe' | xargs x86_64-w64-mingw32-strip --strip-unneeded
    say "program folder $(basename "$dist"):"
    (cd "$dist" && find . -type f | sed 's|^\./||' | sort | while read -r f; do
        printf '    %-40s %8d bytes\n' "$f" "$(stat -c %s "$f")"
    done)
    say "system DLLs it expects from Windows: $(for f in $(find "$dist" -name '*.dll' -o -name '*.exe'); do
        imports "$f"
    done | sort -fu | while read -r d; do [ -f "$dist/$d" ] || printf '%s ' "$d"; done)"
}

# NSIS lists of the program folder's files: how to install them and how to remove them.
installer_lists() {
    local f dir last=""
    : >"$build/install-files.nsh"
    : >"$build/uninstall-files.nsh"
    while read -r f; do
        dir="$(dirname "$f")"
        if [ "$dir" != "$last" ]; then
            [ "$dir" = . ] && echo 'SetOutPath "$INSTDIR"' >>"$build/install-files.nsh" ||
                echo "SetOutPath \"\$INSTDIR\\${dir//\//\\}\"" >>"$build/install-files.nsh"
            last="$dir"
        fi
        echo "File \"$dist/$f\"" >>"$build/install-files.nsh"
        echo "Delete \"\$INSTDIR\\${f//\//\\}\"" >>"$build/uninstall-files.nsh"
    done < <(cd "$dist" && find . -type f | sed 's|^\./||' | sort)
    for dir in platforms styles translations; do
        echo "RMDir \"\$INSTDIR\\$dir\"" >>"$build/uninstall-files.nsh"
    done
}

package() {
    mkdir -p "$out"
    rm -f "$out"/*.zip "$out"/*.exe
    (cd "$build" && cmake -E tar cf "$out/vertal-wizard-1.05-win64.zip" --format=zip \
        "$(basename "$dist")")
    installer_lists
    makensis -V2 -INPUTCHARSET UTF8 -DDIST="$dist" -DICON="$root/image/vertal-wizard.ico" \
        -DFILES="$build/install-files.nsh" -DUNFILES="$build/uninstall-files.nsh" \
        -DOUT="$out/vertal-wizard-1.05-setup.exe" "$root/scripts/windows/installer.nsi"
    say "zip:       $(stat -c %s "$out/vertal-wizard-1.05-win64.zip") bytes"
    say "installer: $(stat -c %s "$out/vertal-wizard-1.05-setup.exe") bytes"
}

# --- Wine ---------------------------------------------------------------------------------

pids=()
cleanup() {
    local status=$?
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
    if [ "$status" -eq 0 ] && [ -n "${WINEPREFIX:-}" ]; then
        prefix_stamp >"$work/prefix.kept"
    fi
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}

dos_path() {
    printf 'Z:%s' "${1//\//\\}"
}

start_display() {
    rm -f "$work/display"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb did not start"
    export DISPLAY=":$(head -1 "$work/display")"
}

# A simulator on a pseudo-terminal, its console the FIFO $work/$1console (a holder keeps it
# open, so that each writer may come and go), its line reachable through the link
# $work/$1line that follows a replug, its output in $work/$1sim.log; $2...: its options.
start_unit() {
    local name="$1"
    shift
    [ -x "$sim" ] || fail "no simulator at $sim (run scripts/build.sh first)"
    rm -f "$work/${name}console" "$work/${name}line"
    mkfifo "$work/${name}console"
    "$sim" --address 1 --speed 19200 "$@" --link "$work/${name}line" \
        <"$work/${name}console" >"$work/${name}sim.log" 2>&1 &
    pids+=($!)
    sleep 1000000 >"$work/${name}console" &
    pids+=($!)
    for _ in $(seq 100); do
        [ -L "$work/${name}line" ] && return
        sleep 0.1
    done
    fail "the simulator made no line"
}

# The unit the Windows programs reach on $com.
start_simulator() {
    start_unit "" --boards 0x29 --firmware 1.5
}

tell_unit() {
    echo "$*" >"$work/console"
}

# A fresh line for the unit, waited for: the simulator has said where its new line is.
replug_unit() {
    local lines
    lines="$(grep -c '^line /dev/' "$work/sim.log" || true)"
    tell_unit replug
    for _ in $(seq 100); do
        [ "$(grep -c '^line /dev/' "$work/sim.log" || true)" -gt "$lines" ] && return
        sleep 0.1
    done
    fail_showing "the simulator made no new line" "$work/sim.log"
}

# The far end's own hold on its line, as a unit emulator, a USB-serial bridge or a virtual
# port driver keeps the slave side of its pseudo-terminal open beside the program that uses
# it. One word a line from the FIFO $work/far-end (the Windows tests write it through Z:):
# "hold" opens the line's slave side, "stall" stops its output (the line takes no bytes),
# "drop" closes both sides at once: the hold, and the master through the console.
far_end_program='
use POSIX;
my ($line, $console) = @ARGV;
my $slave;
$| = 1;
while (my $word = <STDIN>) {
    chomp $word;
    if ($word eq "hold") {
        $slave = POSIX::open(readlink($line), O_RDWR | O_NOCTTY);
        print defined $slave ? "holding " . readlink($line) . "\n" : "cannot hold: $!\n";
    } elsif ($word eq "stall" && defined $slave) {
        POSIX::tcflow($slave, TCOOFF);
        print "stalled\n";
    } elsif ($word eq "drop") {
        if (open(my $c, ">>", $console)) {
            print $c "unplug\n";
            close $c;
        }
        POSIX::close($slave) if defined $slave;
        undef $slave;
        print "dropped\n";
    }
}'

start_far_end() {
    rm -f "$work/far-end"
    mkfifo "$work/far-end"
    perl -e "$far_end_program" "$work/line" "$work/console" <"$work/far-end" \
        >"$work/far-end.log" 2>&1 &
    pids+=($!)
    sleep 1000000 >"$work/far-end" &
    pids+=($!)
}

tell_far_end() {
    echo "$*" >"$work/far-end"
}

# A fresh prefix whose $com is the simulator's line (two digits: only the \\.\ form of a
# port name reaches COM10 and above). The Wine server keeps the error output of the command
# that started it, here wineboot.log: Debian's server writes out all its objects there (some
# megabytes) each time the far end of a pseudo-terminal it holds goes away (the line became
# its controlling terminal when it opened it), and every Wine program, the wizard too, waits
# until that is written: on a slow terminal the window would stand still for as long.
# The prefix is kept from a run that ended well, made with the same Wine and COM port: a run
# that failed (a wizard left installed, a box left open) leaves none to keep.
prefix_stamp() {
    printf '%s %s %s\n' "$(wine64 --version 2>/dev/null)" "$com" "$work/line"
}

make_prefix() {
    export WINEPREFIX="$work/prefix"
    local kept="$work/prefix.kept"
    if [ -L "$WINEPREFIX/dosdevices/${com,,}" ] && [ "$(cat "$kept" 2>/dev/null)" = "$(prefix_stamp)" ]; then
        rm -f "$kept" # taken back once this run ends well
        say "Wine prefix kept from the last run: $com -> $(readlink "$work/line")"
        return
    fi
    rm -f "$kept"
    rm -rf "$WINEPREFIX"
    wine64 wineboot -i >"$work/wineboot.log" 2>&1
    wine64 reg add 'HKLM\Software\Wine\Ports' /v "$com" /d "$work/line" /f >/dev/null 2>&1
    wineserver -k || true
    wine64 wineboot -u >>"$work/wineboot.log" 2>&1
    [ -L "$WINEPREFIX/dosdevices/${com,,}" ] || fail "Wine did not make $com"
    say "Wine prefix ready: $com -> $(readlink "$work/line")"
}

# Runs a Windows test program's command line ("$@": variables, then the command) with its
# DLLs from the toolchain's folders.
test_env() {
    env WINEPATH="$(dos_path "$qt/bin");$(dos_path "${mingw_dlls[0]}");$(dos_path "${mingw_dlls[1]}")" \
        QT_PLUGIN_PATH="$(dos_path "$qt/plugins")" QT_QPA_PLATFORM=offscreen "$@"
}

# Runs a Windows test program; its QTest log goes to a file (a Windows program's standard
# output does not reach us under Wine when it has no console).
run_test() {
    local name="$1"
    shift
    local log="$work/$name.txt"
    local rc=0
    test_env "$@" timeout 300 wine64 "$build/$name.exe" -o "$(dos_path "$log"),txt" \
        >/dev/null 2>&1 || rc=$?
    grep -E '^(QINFO|FAIL|SKIP|Totals)|failure location' "$log" | sed 's/^/    /' || true
    [ "$rc" -eq 0 ] || fail "$name under Wine (exit $rc)"
    say "$name: passed"
}

# Another Windows program opens $com and closes it again: whoever held it has let it go.
port_is_free() {
    local log="$work/port-free.txt"
    test_env VERTAL_TEST_COM="$com" timeout 120 wine64 "$build/tst_comport.exe" opensAndReopens \
        -o "$(dos_path "$log"),txt" >/dev/null 2>&1 ||
        fail_showing "another program could not open $com" "$log"
}

wine_tests() {
    run_test tst_framecodec
    run_test tst_commandset
    run_test tst_mainwindowform
    run_test tst_comport VERTAL_TEST_COM="$com" VERTAL_TEST_SPEED=19200 VERTAL_TEST_ADDRESS=1 \
        VERTAL_TEST_SIM_CONSOLE="$(dos_path "$work/console")" \
        VERTAL_TEST_FAR_END="$(dos_path "$work/far-end")" \
        VERTAL_TEST_SIM_LOG="$(dos_path "$work/sim.log")" \
        VERTAL_TEST_FAR_END_LOG="$(dos_path "$work/far-end.log")"
}

# vertal-cli.exe on a line behind a serial server: a second simulator (19200 baud) behind
# the host's ser2net on 127.0.0.1, with a configuration of its own; the Windows program
# reaches it through Wine's Winsock, finds the unit over RFC 2217, and a port that nothing
# listens on is exit 3 with the reason.
network_tests() {
    command -v ser2net >/dev/null || bash "$root/scripts/install-deps.sh" ser2net
    start_unit net
    local port closed
    port="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
    closed="$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
    cat >"$work/ser2net.yaml" <<YAML
connection: &unit2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$work/netline,9600n81,local
  options:
    chardelay: false
YAML
    ser2net -n -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
    server=$!
    pids+=($server)
    server_url="rfc2217://127.0.0.1:$port"
    for _ in $(seq 100); do
        grep -qi "0100007F:$(printf '%04X' "$port") 00000000:0000 0A" /proc/net/tcp && break
        sleep 0.1
    done
    local out rc=0
    out="$(test_env timeout 120 wine64 "$build/vertal-cli.exe" find --port \
        "rfc2217://127.0.0.1:$port" 2>&1)" || rc=$?
    printf '%s\n' "$out" | sed 's/^/    /'
    [ "$rc" -eq 0 ] && grep -q '^speed 19200' <<<"$out" ||
        fail "vertal-cli.exe did not find the unit over RFC 2217 (exit $rc)"
    rc=0
    out="$(test_env timeout 120 wine64 "$build/vertal-cli.exe" find --port \
        "rfc2217://127.0.0.1:$closed" 2>&1)" || rc=$?
    printf '%s\n' "$out" | sed 's/^/    /'
    [ "$rc" -eq 3 ] || fail "a refused connection was exit $rc, not 3"
    say "vertal-cli.exe over RFC 2217 through ser2net: passed"
}

# The wizard on the same server's line: found at 19200 (status field green), then the
# server killed while the window polls: the box within 3 s, Yes, idle again.
network_window() {
    local wid started
    wine64 "$1" --port "$server_url" --speed 19200 >"$work/wizard-network.log" 2>&1 &
    wizard=$!
    wid="$(timeout 60 xdotool search --sync --name '^ВЕРТАЛ-КП Визард v.1.05$' | head -1)" ||
        fail "the wizard's window did not appear"
    sleep 2
    read -r ox oy <<<"$(client_origin "$wid")"
    sx=$((ox + 261)) sy=$((oy + 82))
    start_search net-1-connected
    say "found the unit over RFC 2217 ($server_url): status field green"
    started=$(now_ms)
    kill -KILL "$server"
    wait_for_box "$started" "ser2net killed (see net-2-server-gone.png)"
    answer_box net-2-server-gone net-3-idle-again
    xdotool key --window "$wid" alt+F4 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$wizard" 2>/dev/null || break
        sleep 0.2
    done
    ! kill -0 "$wizard" 2>/dev/null || fail "the wizard did not end when its window closed"
    say "the wizard over the network: passed"
}

# The prefix's files, less temporary ones: what an install may leave behind.
prefix_files() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./users/*/Temp -prune -o -print | sort)
}

# Installs silently, as the user; checks the program folder and the Start-menu entry.
install_wizard() {
    local profile
    profile="$WINEPREFIX/drive_c/users/$(id -un)"
    prefix_files >"$work/files-before.txt"
    wine64 "$out/vertal-wizard-1.05-setup.exe" /S >/dev/null 2>&1
    installed="$profile/AppData/Local/Programs/ВЕРТАЛ-КП Визард"
    menu_entry="$(find "$profile" -name 'ВЕРТАЛ-КП Визард.lnk' | head -1)"
    [ -x "$installed/vertal-wizard.exe" ] || fail "the installer did not install the program"
    [ -x "$installed/vertal-cli.exe" ] || fail "the installer did not install vertal-cli"
    [ -n "$menu_entry" ] || fail "the installer made no Start-menu entry"
    check_uninstall_entry
    say "installed into $installed; menu entry ${menu_entry#"$WINEPREFIX"/}; uninstall entry written"
}

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\io.github.vertal.Wizard'

# The entry Settings > Apps lists the program by: every value, the uninstaller named in it.
check_uninstall_entry() {
    local entry
    entry="$(wine64 reg query "$uninstall_key" 2>/dev/null | tr -d '\r')" ||
        fail "the installer wrote no uninstall entry"
    for value in DisplayName DisplayVersion Publisher DisplayIcon InstallLocation \
        UninstallString QuietUninstallString NoModify NoRepair EstimatedSize; do
        echo "$entry" | grep -qw "$value" || fail "the uninstall entry has no $value: $entry"
    done
    echo "$entry" | grep -Eq 'DisplayVersion +REG_SZ +1\.05$' || fail "DisplayVersion: $entry"
    echo "$entry" | grep -Eq 'QuietUninstallString +REG_SZ +".*\\uninstall\.exe" /S$' ||
        fail "QuietUninstallString: $entry"
    echo "$entry" | grep -Eq 'NoModify +REG_DWORD +0x1$' || fail "NoModify: $entry"
    echo "$entry" | grep -Eq 'EstimatedSize +REG_DWORD +0x[0-9a-f]*[1-9a-f]' ||
        fail "EstimatedSize: $entry"
}

uninstall_wizard() {
    wine64 "$installed/uninstall.exe" /S >/dev/null 2>&1
    for _ in $(seq 100); do # the uninstaller runs on from a copy of itself
        [ -e "$installed" ] || [ -e "$menu_entry" ] || break
        sleep 0.2
    done
    [ ! -e "$installed" ] || fail "the uninstaller left $(ls "$installed")"
    [ ! -e "$menu_entry" ] || fail "the uninstaller left the Start-menu entry"
    if wine64 reg query "$uninstall_key" >/dev/null 2>&1; then
        fail "the uninstaller left the uninstall entry"
    fi
    prefix_files >"$work/files-after.txt"
    diff "$work/files-before.txt" "$work/files-after.txt" >&2 ||
        fail "installing and uninstalling left files behind"
    say "uninstalled: program folder, menu entry and uninstall entry gone, no other file left"
}

# Window geometry: the client area's top-left corner on the screen (x y).
client_origin() {
    local x y w h
    eval "$(xdotool getwindowgeometry --shell "$1" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
    x=$X y=$Y w=$WIDTH h=$HEIGHT
    # The window is 391 wide with no frame; anything wider carries Wine's own frame.
    echo "$((x + (w - 391) / 2)) $((y + h - 321 - (w - 391) / 2))"
}

screenshot() {
    import -display "$DISPLAY" -window root "$work/$1.png"
}

# "r g b" of the screen pixel at (x, y) of the last screenshot $1.
pixel() {
    convert "$work/$1.png" -format \
        "%[fx:int(255*p{$2,$3}.r+.5)] %[fx:int(255*p{$2,$3}.g+.5)] %[fx:int(255*p{$2,$3}.b+.5)]" info:
}

# Waits until the status field shows colour "$2" (r g b), taking screenshot $1.
wait_for_colour() {
    local i c
    for i in $(seq 120); do
        screenshot "$1"
        c="$(pixel "$1" "$sx" "$sy")"
        [ "$c" = "$2" ] && return 0
        sleep 0.5
    done
    fail "status field never showed $2 (last: $c), see $work/$1.png"
}

# Pixels that differ between two screenshots within a rectangle (WxH+X+Y).
region_changes() {
    convert "$work/$1.png" -crop "$3" +repage "$work/crop-a.png"
    convert "$work/$2.png" -crop "$3" +repage "$work/crop-b.png"
    compare -metric AE "$work/crop-a.png" "$work/crop-b.png" null: 2>&1 || true
}

# CPU of process $1 over $2 seconds, in per cent of one core.
cpu_share() {
    local before after ticks
    ticks="$(getconf CLK_TCK)"
    before="$(awk '{print $14 + $15}' "/proc/$1/stat")"
    sleep "$2"
    after="$(awk '{print $14 + $15}' "/proc/$1/stat")"
    awk -v t=$((after - before)) -v hz="$ticks" -v s="$2" 'BEGIN { printf "%.1f", t * 100 / hz / s }'
}

now_ms() {
    date +%s%3N
}

# Presses "Старт" and waits until the unit is found (status field green, screenshot $1).
start_search() {
    xdotool mousemove $((ox + 347)) $((oy + 21)) click 1
    wait_for_colour "$1" "0 255 0"
}

# Waits for the box titled ВЕРТАЛ-КП after the line went away at $1 (ms), because of $2:
# it must come within 3 s.
wait_for_box() {
    local took
    box=""
    while [ $(($(now_ms) - $1)) -lt 30000 ]; do
        box="$(xdotool search --onlyvisible --name '^ВЕРТАЛ-КП$' | head -1 || true)"
        [ -n "$box" ] && break
        sleep 0.1
    done
    took=$(($(now_ms) - $1))
    [ -n "$box" ] || fail "no message box within 30 s after $2"
    [ "$took" -le 3000 ] || fail "the box came $took ms after $2"
    say "$2: box titled ВЕРТАЛ-КП after $took ms"
}

# Takes screenshot $1 of the box, answers it (Yes) and waits for the idle window ($2).
answer_box() {
    sleep 1
    screenshot "$1"
    xdotool key --window "$box" Return 2>/dev/null
    wait_for_colour "$2" "192 192 192"
    say "answered the box: the window is idle again"
}

wizard_on_display() {
    local wid ox oy box changed started
    wine64 "$installed/vertal-wizard.exe" >"$work/wizard.log" 2>&1 &
    wizard=$!
    wid="$(timeout 60 xdotool search --sync --name '^ВЕРТАЛ-КП Визард v.1.05$' | head -1)" ||
        fail "the wizard's window did not appear"
    sleep 2
    read -r ox oy <<<"$(client_origin "$wid")"
    # The form's own geometry: status field at (156,74) 211x16, version at (20,276) 201x20,
    # port list at (70,10), Start at (310,10).
    sx=$((ox + 261)) sy=$((oy + 82))
    screenshot 1-idle
    say "idle status field: $(pixel 1-idle "$sx" "$sy")"

    # Pick the port the way a person would: open the list, type the name, take it.
    xdotool mousemove $((ox + 104)) $((oy + 21)) click 1
    sleep 1
    xdotool type --delay 100 "$com"
    xdotool key Return
    sleep 1
    screenshot 2-port
    start_search 3-connected
    changed="$(region_changes 1-idle 3-connected "201x20+$((ox + 20))+$((oy + 276))")"
    [ "${changed%% *}" -gt 20 ] 2>/dev/null || fail "no version shown (changed pixels: $changed)"
    say "found the unit on $com: status field green, version field drawn ($changed pixels)"
    say "the wizard polling its unit: $(cpu_share "$wizard" 5)% of one core over 5 s"

    tell_unit status 1 alarm
    wait_for_colour 4-alarm "255 0 0"
    say "alarm raised by the simulator: status field red"

    started=$(now_ms)
    tell_unit unplug
    wait_for_box "$started" "the unplug (see 5-unplugged.png)"
    answer_box 5-unplugged 6-idle-again

    # The program at the far end goes away while the window polls: it closes both sides of
    # its pseudo-terminal, its own hold on the slave side as well as the master.
    tell_unit status 1 normal
    tell_unit replug
    start_search 7-connected-again
    tell_far_end hold
    sleep 2
    started=$(now_ms)
    tell_far_end drop
    wait_for_box "$started" "the far end closing both sides (see 8-both-sides-closed.png)"
    answer_box 8-both-sides-closed 9-idle-again
    tell_unit replug
    port_is_free
    say "the line back: another program opens and closes $com"
    start_search 10-connected-after-replug
    say "the next search found the unit again: status field green"

    # The far end stops taking bytes (its side of the line stalled) while the window polls.
    tell_far_end hold
    sleep 2
    started=$(now_ms)
    tell_far_end stall
    wait_for_box "$started" "the line taking no bytes (see 11-stalled.png)"
    answer_box 11-stalled 12-idle-again
    tell_far_end drop
    tell_unit replug

    # Closed as a person would (Alt+F4): the program ends by itself.
    xdotool key --window "$wid" alt+F4 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$wizard" 2>/dev/null || break
        sleep 0.2
    done
    ! kill -0 "$wizard" 2>/dev/null || fail "the wizard did not end when its window closed"
    wait "$wizard" || fail "the wizard ended with status $?"
    say "closed with Alt+F4: the wizard ended with status 0"
}

# The installed vertal-cli against the unit on $com: find, status, and a configuration
# saved, changed, checked with a dry run, loaded, loaded again (nothing to write), and the
# saved one loaded back. Its results and errors are kept in $work/cli-*.txt.
cli_under_wine() {
    local n=0 saved changed relay=3
    saved="$(dos_path "$work/cli-saved.json")" changed="$(dos_path "$work/cli-changed.json")"
    cli() { # cli EXPECTED-TEXT ARGS...: runs it, checks its exit status 0 and its output
        local expect="$1" log="$work/cli-$((++n)).txt"
        shift
        timeout 120 wine64 "$installed/vertal-cli.exe" "$@" >"$log" 2>&1 ||
            cli_failed "vertal-cli $* under Wine (exit $?)" "$log"
        grep -q -- "$expect" "$log" || cli_failed "vertal-cli $*: no '$expect'" "$log"
    }
    cli '"speed":19200' find --port "$com" --json
    cli 'board 1 ' status --port "$com" --speed 19200 --board 1
    cli 'saved the unit' config save --port "$com" --speed 19200 --file "$saved"
    grep -q '"relay": 3' "$work/cli-saved.json" && relay=2 # another relay board than now
    sed "s/\"relay\": [0-9]*/\"relay\": $relay/" "$work/cli-saved.json" >"$work/cli-changed.json"
    cli '(would write)' config load "$changed" --port "$com" --speed 19200 --dry-run
    cli '(written)' config load "$changed" --port "$com" --speed 19200
    cli '(unchanged)' config load "$changed" --port "$com" --speed 19200
    cli '(written)' config load "$saved" --port "$com" --speed 19200
    say "vertal-cli under Wine: find, status, config save, load (dry run, written, unchanged)"
    # The monitoring service is a Linux build's: here the command says so, exit 2.
    local rc=0 log="$work/cli-monitor.txt"
    timeout 60 wine64 "$installed/vertal-cli.exe" monitor --config "$saved" >"$log" 2>&1 || rc=$?
    [ "$rc" -eq 2 ] && grep -q "monitor is not in this build" "$log" ||
        cli_failed "vertal-cli monitor under Wine: exit $rc, not 2 with its reason" "$log"
    say "vertal-cli monitor under Wine: not in this build, exit 2"
    cli_watch_interrupted
}

# Fails with vertal-cli's output and the frames the unit received last.
cli_failed() {
    tell_unit log 40
    sleep 0.5
    fail_showing "$1" "$2" "$work/sim.log"
}

# Ctrl-C (SIGINT to the program, which Wine hands to it as the console's Ctrl-C) ends a
# watch cleanly: exit status 0, nothing on the error output.
cli_watch_interrupted() {
    local out="$work/cli-watch.txt" err="$work/cli-watch-errors.txt" pid rc=0
    wine64 "$installed/vertal-cli.exe" status --port "$com" --speed 19200 --watch \
        --interval 200 >"$out" 2>"$err" &
    pid=$!
    for _ in $(seq 100); do
        grep -q 'board 1' "$out" && break
        sleep 0.1
    done
    kill -INT "$pid"
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    ! kill -0 "$pid" 2>/dev/null || fail "vertal-cli status --watch did not end on Ctrl-C"
    wait "$pid" || rc=$?
    [ "$rc" -eq 0 ] && [ ! -s "$err" ] || fail "vertal-cli --watch ended by Ctrl-C: status $rc"
    say "vertal-cli status --watch under Wine: Ctrl-C ended it with status 0"
}

wine_run() {
    local started=$SECONDS
    mkdir -p "$work"
    trap cleanup EXIT
    start_display
    start_simulator
    start_far_end
    make_prefix
    wine_tests
    network_tests
    replug_unit
    install_wizard
    cli_under_wine
    wizard_on_display
    network_window "$installed/vertal-wizard.exe"
    uninstall_wizard
    say "Wine part took $((SECONDS - started)) s; screenshots in $work"
}

# vertal-cli alone under Wine: installed, run against the unit, uninstalled.
cli_run() {
    mkdir -p "$work"
    trap cleanup EXIT
    start_simulator
    make_prefix
    install_wizard
    cli_under_wine
    uninstall_wizard
}

case "$step" in
build) cross_build ;;
package) cross_build && gather && package ;;
wine | all) cross_build && gather && package && wine_run ;;
network)
    cross_build && gather && mkdir -p "$work" && trap cleanup EXIT && start_display &&
        make_prefix && network_tests && network_window "$dist/vertal-wizard.exe"
    ;;
cli) cross_build && gather && package && cli_run ;;
*) fail "unknown step $step (build, package, wine, network, cli or all)" ;;
esac
