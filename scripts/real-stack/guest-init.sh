#!/bin/bash
# Second stage of the real-stack guest (PID 1, on the host's root mounted read-only): the kernel's
# Bluetooth stack, btvirt's controllers, a system bus, Debian's bluetoothd, the HCI peripherals on
# every controller but hci0, then the job the host asked for. Its exit status goes to the results
# share, and the guest powers off.
set -u
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
rig=/run/qb-rig
out=$rig/out

say() { echo "qb-rig: $*" >/dev/console; }
fail() {
    say "$*"
    echo "$*" >>"$out/guest.log" 2>/dev/null
    finish 125
}
finish() {
    echo "$1" >"$out/status.tmp" && mv "$out/status.tmp" "$out/status"
    stop_services
    cp "$rig/btmon.snoop" "$out/btmon.snoop" 2>/dev/null
    dmesg >"$out/dmesg.log" 2>/dev/null
    lsmod >"$out/lsmod.log" 2>/dev/null
    sync
    umount "$out" 2>/dev/null
    poweroff -f
    sleep 5
}
pids=()
stop_services() {
    # Last started, first stopped: the peripherals disconnect cleanly before bluetoothd goes.
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || continue
        for _ in $(seq 50); do
            kill -0 "${pids[i]}" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "${pids[i]}" 2>/dev/null
    done
    wait 2>/dev/null
}
# Waits up to $1 seconds for the command after it to succeed (a deadline, since each try may take
# long under emulation on a loaded host).
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
for d in /run /tmp /var/lib/bluetooth /var/tmp; do mount -t tmpfs tmpfs "$d"; done
mkdir -p "$out" "$rig/modules" /run/dbus
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 OUT "$out" || { say "cannot mount the results share"; poweroff -f; }
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 MODULES "$rig/modules" || fail "cannot mount the modules share"
stty -onlcr -F /dev/console 2>/dev/null
exec 2>>"$out/guest.log"
# shellcheck source=/dev/null
. "$out/job.env"

# The modules live outside the host's root; the kernel's own module requests must find them too.
printf '#!/bin/sh\nexec /usr/sbin/modprobe -d %s "$@"\n' "$rig/modules" >"$rig/modprobe"
chmod +x "$rig/modprobe"
echo "$rig/modprobe" >/proc/sys/kernel/modprobe
# Loaded up front, and everything the stack asks for later with them. btvirt's crypto sockets pull
# in the random number generators and instantiate ecb(aes) and cmac(aes), whose self-tests under
# emulation outlast the kernel's 2 s wait for a controller's first command: bound once here, they
# are ready before the first controller exists. bluetoothd asks for BNEP and RFCOMM.
"$rig/modprobe" -a hci_vhci af_alg algif_hash algif_skcipher cmac ecb ecdh_generic ctr drbg \
    jitterentropy_rng sha512_generic sha3_generic ansi_cprng bnep rfcomm || fail "cannot load the Bluetooth modules"
python3 - <<'PY' || say "could not warm the crypto sockets"
import socket
for kind, name in (("skcipher", "ecb(aes)"), ("hash", "cmac(aes)")):
    s = socket.socket(socket.AF_ALG, socket.SOCK_SEQPACKET)
    s.bind((kind, name))
    s.close()
PY
mount -t debugfs none /sys/kernel/debug
ip link set lo up 2>/dev/null
hostname qb-rig

controllers=$((QBRIG_BRIDGES + 1))
# A controller is ready once the kernel has read its address. The kernel gives btvirt 2 s per
# command; on a loaded host emulated in software a controller's set-up can miss that and stay dead,
# so btvirt starts over once.
ready() {
    local i
    for ((i = 0; i < controllers; i++)); do
        grep -q "^00:aa:01:" "/sys/kernel/debug/bluetooth/hci$i/identity" 2>/dev/null || return 1
    done
}
for attempt in 1 2; do
    btvirt -L "-l$controllers" >>"$out/btvirt.log" 2>&1 &
    btvirt=$!
    wait_for 30 ready && break
    kill "$btvirt"
    wait "$btvirt" 2>/dev/null
    say "btvirt's controllers did not come up (attempt $attempt)"
    ((attempt == 2)) && fail "btvirt's controllers did not come up (see dmesg.log)"
    wait_for 20 test ! -e /sys/class/bluetooth/hci0
done
pids+=("$btvirt")

# The capture goes to memory and is copied out at the end: written straight to the 9p share it
# stopped after the first few kilobytes.
btmon -w "$rig/btmon.snoop" >/dev/null 2>"$out/btmon.log" &
pids+=($!)
# The stock system bus, and the peripheral's control object allowed on it.
printf '<busconfig><include>/usr/share/dbus-1/system.conf</include><include>%s</include></busconfig>\n' \
    "$(dirname "$0")/../../emulator/hci/ControlBus.conf" >"$rig/system.conf"
dbus-daemon --config-file="$rig/system.conf" --fork --print-pid >"$rig/dbus.pid" 2>>"$out/guest.log" || fail "the system bus did not start"
/usr/libexec/bluetooth/bluetoothd -n -E ${QBRIG_BLUETOOTHD_ARGS:-} >"$out/bluetoothd.log" 2>&1 &
pids+=($!)
powered() {
    dbus-send --system --print-reply --dest=org.bluez "/org/bluez/hci$1" org.freedesktop.DBus.Properties.Get \
        string:org.bluez.Adapter1 string:Powered 2>/dev/null | grep -q "boolean true"
}
wait_for 60 powered 0 || fail "bluetoothd did not power hci0 (see bluetoothd.log)"

if ((QBRIG_BRIDGES > 0)) && [ "$QBRIG_PERIPHERAL" != none ]; then
    indexes=$(seq -s, 1 "$QBRIG_BRIDGES")
    for i in $(seq 1 "$QBRIG_BRIDGES"); do
        wait_for 30 powered "$i"
        btmgmt --index "$i" power off >>"$out/guest.log" 2>&1
    done
    "$QBRIG_PERIPHERAL" --hci "$indexes" ${QBRIG_CONFIG:+"$QBRIG_CONFIG"} >"$out/peripheral.log" 2>&1 &
    pids+=($!)
    echo $! >"$rig/peripheral.pid"
    # bluetoothd lets go of a controller once the peripheral has it through the user channel.
    gone() { kill -0 "$(cat "$rig/peripheral.pid")" || return 0; ! dbus-send --system --print-reply --dest=org.bluez "/org/bluez/hci$1" \
        org.freedesktop.DBus.Properties.Get string:org.bluez.Adapter1 string:Address >/dev/null 2>&1; }
    for i in $(seq 1 "$QBRIG_BRIDGES"); do
        wait_for 30 gone "$i" || fail "the peripheral did not take hci$i (see peripheral.log)"
    done
    kill -0 "$(cat "$rig/peripheral.pid")" 2>/dev/null || fail "the peripheral exited (see peripheral.log)"
fi

say "stack up; running the command"
export QB7720_REAL_STACK=1 QB7720_REAL_STACK_BRIDGES=$QBRIG_BRIDGES QB7720_REAL_STACK_LOGS=$out
export QB7720_REAL_STACK_PERIPHERAL_PID=$(cat "$rig/peripheral.pid" 2>/dev/null)
cd "$QBRIG_CWD" || fail "no such folder in the guest: $QBRIG_CWD"
timeout --kill-after=10 "$QBRIG_LIMIT" "${QBRIG_COMMAND[@]}" </dev/null 2>&1 | tee "$out/command.log" >/dev/console
status=${PIPESTATUS[0]}
((status == 124)) && say "the command ran out of its $QBRIG_LIMIT s"
say "command exited with status $status"
finish "$status"
