#!/usr/bin/env bash
# Runs a command against a real Linux Bluetooth stack: Debian's kernel under qemu on the host's root
# (read-only), btvirt's virtual LE controllers, a system bus, Debian's stock bluetoothd on hci0, and
# the project's HCI peripheral serving one bridge on each other controller. The command runs in the
# current folder inside the guest; its exit status is this script's, but 125 when the guest gave
# none and 124 when the guest's kernel reported a bug under a command that succeeded.
#
#   scripts/real-stack.sh [--bridges N] [--logs DIR] [--peripheral PATH|none] [--timeout SECONDS]
#                         [CONFIG] -- COMMAND [ARG...]
#
# CONFIG is the peripheral's bridge configuration (as QB7720_EMULATOR's). The logs (bluetoothd's, the
# peripheral's, a btmon capture, the command's output) stay in the folder named at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
here=$root/scripts/real-stack

bridges=1
logs=""
peripheral=${QB7720_HCI_PERIPHERAL:-$root/${BUILD_DIR:-build}/bin/qb7720-emulator}
limit=${QB7720_REAL_STACK_TIMEOUT:-1800} # seconds the command may take
config=""
usage() {
    sed -n '7,8p' "$0" | sed 's/^#  *//' >&2
    exit 2
}
while (($#)); do
    case $1 in
    --bridges) bridges=${2:?}; shift 2 ;;
    --logs) logs=${2:?}; shift 2 ;;
    --peripheral) peripheral=${2:?}; shift 2 ;;
    --timeout) limit=${2:?}; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) [ -z "$config" ] || usage; config=$1; shift ;;
    esac
done
(($#)) || usage
[[ $limit =~ ^[0-9]+$ ]] || { echo "real-stack: --timeout takes seconds" >&2; exit 2; }
[[ $bridges =~ ^[0-9]+$ ]] && ((bridges <= 8)) || { echo "real-stack: --bridges takes 0 to 8" >&2; exit 2; }
if ((bridges > 0)) && [ "$peripheral" != none ] && [ ! -x "$peripheral" ]; then
    echo "real-stack: no peripheral at $peripheral (build qb7720-emulator, or give --peripheral)" >&2
    exit 2
fi
[ "$peripheral" = none ] || peripheral=$(realpath "$peripheral")
# The guest mounts empty folders of its own over these, so it would not see what lies there.
hidden_in_guest() {
    case $1/ in /tmp/* | /var/tmp/* | /run/* | /var/lib/bluetooth/* | /dev/* | /proc/* | /sys/*) return 0 ;; esac
    return 1
}
for seen in "$(pwd -P)" "$peripheral"; do
    [ "$seen" != none ] && hidden_in_guest "$seen" || continue
    echo "real-stack: the guest cannot see $seen (it mounts its own /tmp, /var/tmp, /run and /var/lib/bluetooth); run from a tree elsewhere" >&2
    exit 2
done

# What the rig needs on the host; the kernel itself is only unpacked, never installed.
need=(qemu-system-x86 busybox-static cpio bluez bluez-test-tools dbus-daemon kmod)
missing=()
for p in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

cache=${QB7720_REAL_STACK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qb7720-real-stack}
mkdir -p "$cache"
# One guest at a time on this machine.
exec 9>"$cache/lock"
flock 9

package=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
[ -n "$package" ] || { echo "real-stack: apt knows no linux-image-amd64" >&2; exit 1; }
version=${package#linux-image-}
tree=$cache/$version
if [ ! -e "$tree/.unpacked" ]; then
    echo "real-stack: unpacking $package into $tree" >&2
    rm -rf "$tree" && mkdir -p "$tree"
    (cd "$cache" && apt-get download "$package" >&2)
    dpkg -x "$cache/${package}_"*.deb "$tree"
    rm -f "$cache/${package}_"*.deb
    depmod -b "$tree" "$version"
    touch "$tree/.unpacked"
fi
kernel=$tree/boot/vmlinuz-$version
moddir=$tree/lib/modules/$version

# The first stage: busybox and the drivers that reach the host's root.
initramfs=$cache/initramfs-$version.cpio.gz
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage"/{bin,dev,proc,sys,newroot,modules}
cp /bin/busybox "$stage/bin/busybox"
cp "$here/initramfs-init" "$stage/init"
: >"$stage/modules/order"
for m in virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p; do
    file=$(find "$moddir/kernel" -name "$m.ko" -print -quit)
    [ -n "$file" ] || continue # built in
    cp "$file" "$stage/modules/"
    echo "$m" >>"$stage/modules/order"
done
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$initramfs"

if [ -z "$logs" ]; then
    logs=$(mktemp -d "${TMPDIR:-/tmp}/qb7720-real-stack.XXXXXX")
else
    mkdir -p "$logs"
    rm -f "$logs/status" "$logs/btmon.snoop"
fi
logs=$(cd "$logs" && pwd)

# The job: where and what to run, and the environment it should see.
{
    printf 'QBRIG_CWD=%q\nQBRIG_BRIDGES=%q\nQBRIG_CONFIG=%q\nQBRIG_PERIPHERAL=%q\nQBRIG_LIMIT=%q\n' \
        "$PWD" "$bridges" "$config" "$peripheral" "$limit"
    printf 'QBRIG_COMMAND=('
    printf '%q ' "$@"
    printf ')\n'
    printf 'export HOME=/tmp LANG=C.UTF-8\n'
    while IFS='=' read -r name _; do
        case $name in
        QB7720_REAL_STACK | QB7720_REAL_STACK_CACHE | QB7720_REAL_STACK_TIMEOUT | QB7720_REAL_STACK_BRIDGES | \
            QB7720_REAL_STACK_LOGS | QB7720_REAL_STACK_PERIPHERAL_PID) ;; # the rig's own, or set in the guest
        QB7720_* | GTEST_* | CTEST_* | QT_* | QBRIG_BLUETOOTHD_ARGS) printf 'export %s=%q\n' "$name" "${!name}" ;;
        esac
    done < <(env)
} >"$logs/job.env"

# qemu ACCEL EXTRA-KERNEL-ARGUMENTS: the guest's command line, in $qemu.
qemu() {
    qemu=(qemu-system-x86_64 -accel "$1" -m 2048 -smp 2 -nographic -no-reboot -nic none
        -kernel "$kernel" -initrd "$initramfs"
        -append "console=ttyS0 panic=-1 quiet loglevel=3 qbrig_init=$here/guest-init.sh $2"
        -virtfs local,path=/,mount_tag=ROOT,security_model=none,readonly=on,multidevs=remap
        -virtfs "local,path=$tree,mount_tag=MODULES,security_model=none,readonly=on,multidevs=remap"
        -virtfs "local,path=$logs,mount_tag=OUT,security_model=none,multidevs=remap")
}

# KVM where a guest gets past the decompressor on it (on some hosts it hangs right after); the
# verdict is kept per host kernel.
verdict=$cache/kvm-$(uname -r)-$version
if [ ! -e "$verdict" ]; then
    accel=tcg
    qemu kvm qbrig_probe=1
    if [ -w /dev/kvm ]; then
        timeout --kill-after=5 20 "${qemu[@]}" </dev/null >"$stage/probe.log" 2>&1 || true
        grep -q "qb-rig: guest kernel up" "$stage/probe.log" && accel=kvm
    fi
    echo "$accel" >"$verdict"
fi
accel=$(cat "$verdict")
qemu "$accel" ""

echo "real-stack: $version under qemu ($accel), $bridges bridge(s), logs in $logs" >&2
started=$(date +%s)
# The guest stops the command itself at the limit, so that its logs are complete; the boot and the
# stop get two minutes more.
timeout --kill-after=10 $((limit + 120)) "${qemu[@]}" </dev/null || true
if [ ! -s "$logs/status" ]; then
    echo "real-stack: the guest ended without the command's status after $(($(date +%s) - started)) s; logs in $logs" >&2
    exit 125
fi
status=$(cat "$logs/status")
# A kernel that hit a bug under the command leaves every later result in doubt, whatever the status.
if grep -qE 'kernel BUG|list_del corruption|general protection fault|Oops:' "$logs/dmesg.log" 2>/dev/null; then
    echo "real-stack: the guest's kernel reported a bug (see dmesg.log)" >&2
    ((status != 0)) || status=124
fi
echo "real-stack: status $status after $(($(date +%s) - started)) s; logs in $logs" >&2
exit "$status"
