#!/usr/bin/env bash
# The programs on real serial drivers: a QEMU guest runs the Debian kernel with its own 8250
# UART driver (/dev/ttyS1) and FTDI USB-serial driver (/dev/ttyUSB0, QEMU's usb-serial on an
# XHCI controller); the far end of each line is a unit simulator on the host. The guest sees
# the host's root read-only and runs this script's "guest" part from the build, which asks
# the host (through the shared results folder) to pull the USB adapter out and put it back
# with QEMU's monitor, and to hand lines to the simulators' consoles (the unit's case, its
# values, the frames it received), for the window's test program too.
#   scripts/drivers.sh              installs what is missing, prepares the guest, runs it
#   scripts/drivers.sh guest DIR    (inside the guest) the tests; results into DIR
# Needs the plain build (scripts/build.sh): vertal-cli, the simulator, tst_realline.
# Out: build/drivers/results/ (the guest's log, the simulators' logs, the test logs).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build"
work="$build/drivers"
results="$work/results"
sim="$build/sim/vertal-unit-sim"

say() { printf '[drivers] %s\n' "$*"; }
fail() {
    printf '[drivers] FAILED: %s\n' "$*" >&2
    exit 1
}

# --- the guest's kernel, modules and first program ----------------------------------------

# Modules the guest loads, each after what it depends on: the 9p file system over virtio
# (the host's root and the results folder), and USB with the FTDI driver. 8250 is built in.
guest_modules=(virtio_pci 9pnet_virtio 9p xhci-pci ftdi_sio)

install_packages() {
    bash "$root/scripts/install-deps.sh" qemu-system-x86 busybox-static cpio socat
}

# Package $1 downloaded into the build tree's cache (once) and unpacked into $work/$2 (again
# when the package changed): never installed into the machine.
unpack_package() {
    local name="$1" into="$work/$2" deb
    mkdir -p "$work/cache"
    deb="$(ls "$work/cache/${name}"_*.deb 2>/dev/null | head -1 || true)"
    if [ -z "$deb" ]; then
        say "downloading $name"
        (cd "$work/cache" && apt-get download -q "$name" >/dev/null 2>&1) ||
            fail "apt-get download $name"
        deb="$(ls "$work/cache/${name}"_*.deb | head -1)"
    fi
    if [ "$(cat "$into/.package" 2>/dev/null)" != "$deb" ]; then
        rm -rf "$into"
        mkdir -p "$into"
        dpkg-deb -x "$deb" "$into"
        echo "$deb" >"$into/.package"
        return 1 # unpacked afresh
    fi
}

# The kernel package that linux-image-amd64 names today (it changes with every update).
unpack_kernel() {
    local name
    name="$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -1)"
    [ -n "$name" ] || fail "apt-cache names no kernel package for linux-image-amd64"
    unpack_package "$name" kernel || rm -f "$work/vmlinux" "$work/accel"
    kernel_version="${name#linux-image-}"
}

# The raw ELF kernel out of the compressed bzImage (an xz stream inside it): QEMU starts it
# at once, where the bzImage spends half a minute in firmware and unpacking under TCG.
extract_vmlinux() {
    [ -s "$work/vmlinux" ] && return
    local image="$work/kernel/boot/vmlinuz-$kernel_version" offset
    offset="$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$image" | head -1 | cut -d: -f1)"
    [ -n "$offset" ] || fail "no xz stream in $image"
    tail -c +$((offset + 1)) "$image" | xz -dc --single-stream >"$work/vmlinux.part" 2>/dev/null || true
    [ "$(head -c 4 "$work/vmlinux.part" | od -An -c | tr -d ' ')" = '177ELF' ] ||
        fail "the kernel unpacked from $image is no ELF file"
    mv "$work/vmlinux.part" "$work/vmlinux"
}

# The file of module $1 (a name with - or _).
module_file() {
    local dir="$work/kernel/lib/modules/$kernel_version/kernel" pattern
    pattern="$(echo "$1" | sed 's/[-_]/[-_]/g')"
    find "$dir" -regextype posix-extended -regex ".*/$pattern\.ko(\.xz)?" | head -1
}

# Module $1 after its dependencies, each once, into $order (there is no modprobe here).
add_module() {
    local file dep
    file="$(module_file "$1")"
    [ -n "$file" ] || fail "no module $1 in the kernel package"
    case " ${order[*]:-} " in *" $file "*) return ;; esac
    for dep in $(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add_module "$dep"
    done
    order+=("$file")
}

# The guest's first program: mounts what Linux needs and the host's root over 9p, loads the
# modules, runs the command named on the kernel's command line in the host's root, powers off.
guest_init='#!/bin/busybox sh
export PATH=/bin
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /host
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts
mount -t devpts devpts /dev/pts
for m in $(cat /modules); do insmod /lib/modules/$m || echo "insmod $m failed"; done
results=$(sed -n "s/.*vertal_results=\([^ ]*\).*/\1/p" /proc/cmdline)
run=$(sed -n "s/.*vertal_run=\([^ ]*\).*/\1/p" /proc/cmdline)
[ -n "$run" ] || { echo vertal-guest-idle; poweroff -f; }
root=$(sed -n "s/.*vertal_root=\([^ ]*\).*/\1/p" /proc/cmdline)
p9="trans=virtio,version=9p2000.L,msize=262144"
# The host root is read-only here: its pages may be kept (programs start far quicker).
mount -t 9p -o "$p9,ro,cache=loose" host /host || echo "no host root"
for d in proc sys dev; do mount --rbind /$d /host/$d; done
# The guest writes in a /tmp of its own; a checkout under the host /tmp stays in sight.
mkdir -p /hostview
mount --bind /host /hostview
mount -t tmpfs tmp /host/tmp
case "$root" in /tmp/*) mkdir -p "/host$root" && mount --bind "/hostview$root" "/host$root" ;; esac
mount -t 9p -o "$p9" results "/host$results" || echo "no results folder"
echo "vertal-guest: running $run"
chroot /host /bin/bash "$run" guest "$results"
echo "vertal-guest-exit=$?"
sync
poweroff -f
'

make_initramfs() {
    local dir="$work/initramfs" m stamp
    # Made again only when what it is made of changes: the first program, the modules of
    # this kernel, busybox.
    stamp="$(printf '%s\n' "$guest_init" "$kernel_version" "${guest_modules[*]}" |
        cat - /bin/busybox | sha1sum | cut -d' ' -f1)"
    if [ -s "$work/initramfs.gz" ] && [ "$(cat "$work/initramfs.stamp" 2>/dev/null)" = "$stamp" ]; then
        say "initramfs kept (made of the same first program, kernel and busybox)"
        return
    fi
    rm -rf "$dir"
    mkdir -p "$dir/bin" "$dir/lib/modules"
    cp /bin/busybox "$dir/bin/busybox"
    printf '%s' "$guest_init" >"$dir/init"
    chmod +x "$dir/init"
    order=()
    for m in "${guest_modules[@]}"; do
        add_module "$m"
    done
    : >"$dir/modules"
    for m in "${order[@]}"; do
        cp "$m" "$dir/lib/modules/"
        basename "$m" >>"$dir/modules"
    done
    (cd "$dir" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
    echo "$stamp" >"$work/initramfs.stamp"
    say "initramfs: $(stat -c %s "$work/initramfs.gz") bytes, modules: $(tr '\n' ' ' <"$dir/modules")"
}

# --- the host's side ----------------------------------------------------------------------

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
}

# One simulator on a pseudo-terminal (its line at $work/$1-line), its console a FIFO that a
# holder keeps open, its output in $results/sim-$1.log.
start_simulator() {
    local name="$1"
    rm -f "$work/$name-console" "$work/$name-line"
    mkfifo "$work/$name-console"
    "$sim" --address 1 --speed 19200 --boards 0x29 --firmware 1.5 --link "$work/$name-line" \
        <"$work/$name-console" >"$results/sim-$name.log" 2>&1 &
    pids+=($!)
    sleep 1000000 >"$work/$name-console" &
    pids+=($!)
    for _ in $(seq 100); do
        [ -L "$work/$name-line" ] && return
        sleep 0.1
    done
    fail "the simulator for $name made no line"
}

# KVM when it runs this kernel (a nested /dev/kvm may open and still fail on the first
# instructions it has to emulate): a boot to power-off, checked once per kernel and kept in
# $work/accel ("kvm" or "tcg").
accelerator() {
    local probe="$work/accel"
    if [ ! -s "$probe" ]; then
        echo tcg >"$probe"
        [ -w /dev/kvm ] || return 0
        timeout 20 qemu-system-x86_64 -accel kvm -cpu host -M pc -m 256 -nodefaults \
            -display none -no-reboot -kernel "$work/vmlinux" -initrd "$work/initramfs.gz" \
            -append "console=ttyS0 quiet panic=-1" -serial "file:$work/accel.log" \
            >/dev/null 2>&1 &
        pids+=($!)
        if wait $! && grep -q vertal-guest-idle "$work/accel.log"; then
            echo kvm >"$probe"
        fi
    fi
}

usb_device='usb-serial,bus=xhci.0,chardev=usbline,id=adapter'

start_guest() {
    local accel=tcg
    accelerator
    [ "${VERTAL_DRIVERS_TCG:-}" = 1 ] || accel="$(cat "$work/accel")"
    cpu="-cpu max"
    [ "$accel" = kvm ] && cpu="-cpu host"
    rm -f "$work/monitor"
    qemu-system-x86_64 -accel "$accel" $cpu -M pc -m 768 -smp 2 -nodefaults -display none \
        -no-reboot -kernel "$work/vmlinux" -initrd "$work/initramfs.gz" \
        -append "console=ttyS0 quiet panic=-1 vertal_root=$root vertal_run=$root/scripts/drivers.sh vertal_results=$results" \
        -serial "file:$results/guest.log" \
        -chardev "serial,id=uart,path=$(readlink "$work/uart-line")" \
        -device isa-serial,chardev=uart,index=1 \
        -device qemu-xhci,id=xhci \
        -chardev "serial,id=usbline,path=$(readlink "$work/usb-line")" \
        -device "$usb_device" \
        -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
        -virtfs "local,path=$results,mount_tag=results,security_model=none,multidevs=remap" \
        -monitor "unix:$work/monitor,server,nowait" >"$results/qemu.log" 2>&1 &
    qemu=$!
    pids+=($qemu)
    say "guest started ($accel)"
}

monitor() {
    echo "$*" >>"$results/monitor.log"
    printf '%s\n' "$*" | socat -t 2 - "UNIX-CONNECT:$work/monitor" >/dev/null 2>&1
}

# What the simulator $1 printed for console line $2.
ask_simulator() {
    local log="$results/sim-$1.log" size
    size="$(stat -c %s "$log")"
    echo "$2" >"$work/$1-console"
    sleep 0.5
    tail -c +$((size + 1)) "$log"
}

# Serves the guest's requests, one at a time in $results/ask ("monitor ..." or "uart|usb
# CONSOLE LINE"): the answer goes to $results/answer, then the request is removed.
serve_guest() {
    local target rest
    while kill -0 "$qemu" 2>/dev/null; do
        if [ -f "$results/ask" ]; then
            read -r target rest <"$results/ask" || true
            case "$target" in
            monitor) monitor "$rest" && echo done >"$results/answer.part" ;;
            uart | usb) ask_simulator "$target" "$rest" >"$results/answer.part" ;;
            *) echo "unknown request $target" >"$results/answer.part" ;;
            esac
            mv "$results/answer.part" "$results/answer"
            rm -f "$results/ask"
        fi
        sleep 0.1
    done
}

host_run() {
    local started=$SECONDS deadline
    [ -x "$sim" ] && [ -x "$build/cli/vertal-cli" ] || fail "build first (scripts/build.sh)"
    install_packages
    unpack_kernel
    # udev for the guest, which fills the database the port list reads the adapter from.
    unpack_package udev udev || true
    extract_vmlinux
    make_initramfs
    rm -rf "$results"
    mkdir -p "$results"
    trap cleanup EXIT
    trap 'exit 130' INT TERM HUP
    start_simulator uart
    start_simulator usb
    start_guest
    # The guest's tests take about 200 s under TCG on two cores; the whole run stays within 5 min.
    deadline=$((SECONDS + ${VERTAL_DRIVERS_TIMEOUT:-270}))
    serve_guest &
    pids+=($!)
    while kill -0 "$qemu" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.5
    done
    kill -0 "$qemu" 2>/dev/null && fail "the guest did not finish in time (see $results/guest.log)"
    sed -n 's/^\[guest\] //p' "$results/guest.log" | sed 's/^/    /'
    grep -q '^vertal-guest-exit=0' "$results/guest.log" ||
        fail "the guest's tests failed (see $results/guest.log)"
    say "passed in $((SECONDS - started)) s"
}

# --- inside the guest ---------------------------------------------------------------------

gsay() { printf '[guest] %6s s  %s\n' "$(cut -d' ' -f1 /proc/uptime)" "$*"; }
gfail() {
    printf '[guest] FAILED: %s\n' "$*"
    exit 1
}

# Asks the host for $*; prints its answer.
ask_host() {
    rm -f "$out/answer"
    echo "$*" >"$out/ask.part"
    mv "$out/ask.part" "$out/ask"
    for _ in $(seq 100); do
        if [ -f "$out/answer" ] && [ ! -f "$out/ask" ]; then
            cat "$out/answer"
            return
        fi
        sleep 0.1
    done
    gfail "the host did not answer: $*"
}

now_ms() {
    date +%s%3N
}

# Waits up to $2 tenths of a second for the command $1 to succeed.
wait_for() {
    for _ in $(seq "$2"); do
        eval "$1" && return 0
        sleep 0.1
    done
    return 1
}

latency_timer=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer

# vertal-cli's search on line $1 (device $2): the unit found at 19200 with address 1 learnt,
# after nine sends at 4800 and nine at 9600 that reached the simulator at those speeds.
check_search() {
    local name="$1" dev="$2" log
    ask_host "$name log clear" >/dev/null
    "$cli" find --port "$dev" --json >"$out/find-$name.json" 2>"$out/find-$name.err" ||
        gfail "vertal-cli find on $dev: $(cat "$out/find-$name.err")"
    grep -q '"address":1,.*"speed":19200,"version":"1.5"' "$out/find-$name.json" ||
        gfail "find on $dev: $(cat "$out/find-$name.json")"
    log="$(ask_host "$name log")"
    echo "$log" >"$out/frames-$name.log"
    [ "$(echo "$log" | grep -c 'at 4800 baud, silent')" = 9 ] &&
        [ "$(echo "$log" | grep -c 'at 9600 baud, silent')" = 9 ] &&
        echo "$log" | grep -m1 -v 'baud, silent' | grep -q 'at 19200 baud, answered' ||
        gfail "the simulator behind $dev did not see 9 x 4800, 9 x 9600, then 19200 (see $out/frames-$name.log)"
    gsay "$dev: found at 19200, address 1 learnt, version 1.5; the host end saw 9 sends at 4800, 9 at 9600, then 19200"
}

# The watch's error output stays in the guest (its /tmp), so that the file's time is the
# guest's clock; check_unplug_watch copies it to the results.
watch_err=/tmp/watch.err

# Starts "vertal-cli status --watch" on $1; waits for its first reading.
start_watch() {
    rm -f "$out/watch.out" "$watch_err"
    "$cli" status --port "$1" --watch --interval 200 >"$out/watch.out" 2>"$watch_err" &
    watch=$!
    wait_for '[ -s "$out/watch.out" ]' 300 || gfail "no reading from the watch on $1: $(cat "$watch_err")"
}

stop_watch() {
    kill -INT "$watch"
    wait "$watch" || gfail "the watch ended with $? on Ctrl-C: $(cat "$watch_err")"
}

# While vertal-cli holds the FTDI line its latency timer is 1 ms; after it the old value.
# The UART's flags do not change.
check_latency() {
    local before during after flags
    before="$(cat "$latency_timer")"
    start_watch /dev/ttyUSB0
    during="$(cat "$latency_timer")"
    stop_watch
    after="$(cat "$latency_timer")"
    gsay "ttyUSB0 latency timer: $before ms before, $during ms while connected, $after ms after"
    [ "$during" = 1 ] && [ "$after" = "$before" ] || gfail "low latency not asked or not given back"
    flags="$(cat /sys/class/tty/ttyS1/flags)"
    start_watch /dev/ttyS1
    [ "$(cat /sys/class/tty/ttyS1/flags)" = "$flags" ] || gfail "the UART's flags changed"
    stop_watch
    gsay "ttyS1 (8250): flags $flags left alone"
}

# Milliseconds from the kernel's own word that the adapter has gone (its log is stamped on
# the clock /proc/uptime reads) to vertal-cli's last word (its error output's time, on the
# wall clock, brought onto the kernel's by reading both clocks together). When the pull came
# while the driver was asking the adapter something (the drain after a send asks whether its
# transmitter is empty), the kernel hangs the line up only when that request times out
# (-110, after USB's 5 s); the count then starts at the timeout, which is the kernel's, not
# vertal-cli's.
watch_end_after_disconnect() {
    local gone uptime wall said
    gone="$(dmesg | grep -E 'USB disconnect|ftdi_sio .*: -110$' | tail -1 |
        sed -n 's/^\[ *\([0-9.]*\)\].*/\1/p')"
    read -r uptime _ </proc/uptime
    wall="$(date +%s.%N)"
    said="$(stat -c %.9Y "$watch_err")"
    awk -v gone="${gone:-0}" -v up="$uptime" -v wall="$wall" -v said="$said" \
        'BEGIN { printf "%d", (said - wall + up - gone) * 1000 }'
}

# The adapter pulled out under a watch (QEMU's device_del): vertal-cli says the port went
# away within a second; put back (device_add), the next search finds the unit.
check_unplug_watch() {
    local pulled code took since_kernel
    start_watch /dev/ttyUSB0
    ask_host "monitor device_del adapter" >/dev/null
    pulled="$(now_ms)"
    wait_for '! kill -0 $watch 2>/dev/null' 100 || gfail "the watch went on after the unplug"
    took=$(($(now_ms) - pulled))
    since_kernel="$(watch_end_after_disconnect)"
    [ "$since_kernel" -le 1000 ] ||
        gfail "status --watch ended $since_kernel ms after the kernel let the adapter go"
    code=0
    wait "$watch" || code=$?
    [ "$code" = 5 ] && grep -q 'went away' "$watch_err" ||
        gfail "after the unplug: exit $code, $(cat "$watch_err")"
    gsay "unplugged under status --watch: ended $since_kernel ms after the kernel let the adapter go ($took ms after the monitor's answer; exit 5): $(cat "$watch_err")"
    cp "$watch_err" "$out/watch.err"
    gsay "kernel: $(dmesg | grep -m1 'now disconnected from ttyUSB0' | sed 's/^\[[^]]*\] //')"
    ask_host "monitor device_add $usb_device" >/dev/null
    wait_for '[ -c /dev/ttyUSB0 ]' 100 || gfail "no ttyUSB0 after device_add"
    check_search usb /dev/ttyUSB0
}

# The window's test program on line $1 ($2...: more variables for it, among them the
# "ask" command that reaches the line's simulator); its figures checked.
check_window() {
    local dev="$1" name log box cpu
    shift
    name="$(basename "$dev")"
    log="$out/tst_realline-$name.txt"
    env VERTAL_TEST_PORT="$dev" "$@" "$build/tests/drivers/tst_realline" -o "$log,txt" \
        >"$out/tst_realline-$name.out" 2>&1 || {
        grep -sE '^(FAIL|   Loc)' "$log" || tail -5 "$out/tst_realline-$name.out"
        gfail "the window on $dev (see $log)"
    }
    gsay "the window on $dev: $(grep -c '^PASS' "$log") passed, $(grep -c '^SKIP' "$log") skipped"
    sed -n 's/^QINFO  : TestRealLine::\([a-zA-Z]*\)() \(.*=.*\)$/\1: \2/p' "$log" |
        while read -r line; do gsay "    $line"; done
    # Every unplug (under a status tick, under the value dialog): its box and the CPU after.
    for box in $(sed -n 's/.*unplug-to-box-ms=//p' "$log"); do
        # 234 ms on a quiet host, 773 ms beside the sanitizers' run (the guest is emulated):
        # the bound stays below a silent line's whole exchange (2835 ms), which a window that
        # missed the unplug would wait out.
        [ "$box" -ge 0 ] && [ "$box" -le 2000 ] || gfail "\"Ошибка обмена !\" came $box ms after the unplug"
    done
    for cpu in $(sed -n 's/.*cpu-after-unplug-percent=//p' "$log"); do
        # 5.5 % on a quiet host, 10.6 % beside the sanitizers' run; a window spinning on the
        # gone line would take a whole core (100 %).
        awk -v c="$cpu" 'BEGIN { exit !(c < 30) }' || gfail "the window spun after the unplug: $cpu %"
    done
}

# udev from the unpacked package, as a desktop runs it, with its rules for serial devices:
# it fills the database that Qt reads an adapter's facts from, and makes /dev/serial/by-id.
start_udev() {
    local udev="$work/udev"
    mount -t tmpfs run /run
    mkdir -p /run/udev/rules.d
    cp "$udev"/lib/udev/rules.d/{50-udev-default,60-serial}.rules /run/udev/rules.d/
    ln -s "$udev/bin/udevadm" /run/systemd-udevd
    /run/systemd-udevd --daemon || gfail "udev did not start"
    "$udev/bin/udevadm" trigger --action=add --subsystem-match=usb --subsystem-match=usb-serial \
        --subsystem-match=tty
    "$udev/bin/udevadm" settle -t 30 || gfail "udev did not settle"
    gsay "udev: $(ls /dev/serial/by-id 2>/dev/null | tr '\n' ' ')"
}

# What the system knows of the adapter: sysfs, and what udev made of it.
describe_adapter() {
    local usb
    usb="$(readlink -f /sys/class/tty/ttyUSB0/device/../..)"
    gsay "ttyUSB0 in sysfs: driver $(basename "$(readlink /sys/class/tty/ttyUSB0/device/driver)"), USB $(cat "$usb/idVendor"):$(cat "$usb/idProduct"), maker \"$(cat "$usb/manufacturer" 2>/dev/null)\", product \"$(cat "$usb/product" 2>/dev/null)\", serial \"$(cat "$usb/serial" 2>/dev/null)\"; udev database: $([ -d /run/udev/data ] && echo present || echo none)"
}

guest_run() {
    out="$1"
    export HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime QT_QPA_PLATFORM=offscreen
    mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    cli="$build/cli/vertal-cli"
    gsay "kernel $(uname -r); lines: $(ls /dev/ttyS1 /dev/ttyUSB0 | tr '\n' ' ')"
    start_udev
    check_search uart /dev/ttyS1
    check_search usb /dev/ttyUSB0
    check_latency
    check_unplug_watch
    describe_adapter
    check_window /dev/ttyS1 VERTAL_TEST_ASK_UNIT="bash $0 ask $out uart"
    check_window /dev/ttyUSB0 VERTAL_TEST_USB_ID=0403:6001 VERTAL_TEST_ASK_UNIT="bash $0 ask $out usb" \
        VERTAL_TEST_UNPLUG="bash $0 ask $out monitor device_del adapter" \
        VERTAL_TEST_REPLUG="bash $0 ask $out monitor device_add $usb_device"
}

case "${1:-run}" in
run) host_run ;;
guest) guest_run "$2" ;;
ask) # (inside the guest) one request to the host, its answer printed: ask DIR REQUEST...
    out="$2"
    shift 2
    ask_host "$@"
    ;;
*) fail "unknown step $1 (run, or guest DIR)" ;;
esac
