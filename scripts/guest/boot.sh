#!/usr/bin/env bash
# Runs one command inside a QEMU system guest whose kernel executes 32-bit code, for machines
# whose own kernel does not. The guest mounts this machine's root over 9p, so it sees the same
# files, programs and packages; the command runs in the same folder with the same variables
# listed below, its output is shown here afterwards, and its exit status is this script's.
#   scripts/guest/boot.sh COMMAND [ARGS...]
# CIPHREL_GUEST_CPU picks the processor the guest presents (default: max, an AMD with AVX2).
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
work="$here/build/guest"
mkdir -p "$work"

kernel=$(ls /boot/vmlinuz-*-amd64 2>/dev/null | sort -V | tail -n 1)
if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null || [ ! -x /bin/busybox ]; then
    echo "guest: needs linux-image-amd64, qemu-system-x86 and busybox-static" \
         "(scripts/install-deps.sh installs them)" >&2
    exit 1
fi
version=${kernel#/boot/vmlinuz-}

# The initramfs: busybox and the modules that reach the host's root over 9p and the disk
# that keeps Wine's prefix between runs. Made once per kernel.
initrd="$work/initrd-$version.cpio.gz"
if [ ! -s "$initrd" ] || [ "$here/scripts/guest/init" -nt "$initrd" ] || [ "$0" -nt "$initrd" ]; then
    tree=$(mktemp -d)
    mkdir -p "$tree"/{bin,dev,proc,sys,newroot,modules}
    cp /bin/busybox "$tree/bin/busybox"
    # In load order, each after those it needs; the init loads them as listed in "order".
    for m in virtio virtio_ring virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci \
             netfs fscache 9pnet 9pnet_virtio 9p virtio_blk crc16 mbcache jbd2 \
             crc32c_generic ext4; do
        path=$(find "/lib/modules/$version/kernel" -name "$m.ko" | head -n 1)
        [ -n "$path" ] || { echo "guest: module $m.ko missing for $version" >&2; exit 1; }
        cp "$path" "$tree/modules/"
        echo "$m" >>"$tree/modules/order"
    done
    cp "$here/scripts/guest/init" "$tree/init"
    chmod +x "$tree/init"
    (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.new"
    mv "$initrd.new" "$initrd"
    rm -rf "$tree"
fi

# The job: folder, variables and command, read by the guest from the shared tree.
job=$(mktemp -d "$work/job.XXXXXX")
trap 'rm -rf "$job"' EXIT
pwd >"$job/cwd"
printf '%q ' "$@" >"$job/command"
for name in PATH HOME LANG CI TERM GTEST_FILTER GTEST_COLOR CTEST_OUTPUT_ON_FAILURE \
            $(compgen -e | grep -E '^CIPHREL_' || true); do
    [ -n "${!name+x}" ] && printf 'export %s=%q\n' "$name" "${!name}"
done >"$job/env"
# Inside the guest the machine runs 32-bit code itself; the prefix lives on the guest's disk.
echo "export RUN32=native CIPHREL_WINEPREFIX=/var/lib/ciphrel/wineprefix" >>"$job/env"
# The guest's /tmp is a tmpfs of its own (Wine's and Xvfb's sockets cannot live on 9p), which
# hides this machine's /tmp: the entries of it that the job needs (a checkout there, the
# working folder, a path given as an argument) are bound back at the same place.
for path in "$here" "$PWD" "$@"; do
    case "$path" in
    /tmp/?*) path=${path#/tmp/}; echo "/tmp/${path%%/*}" ;;
    esac
done | sort -u >"$job/host-tmp"

# Wine's prefix is about 1.3 GB and takes long to make under emulation: it is kept on a disk
# image of its own (9p cannot hold Wine's sockets and special files), made once.
disk="$work/prefix.img"
if [ ! -f "$disk" ]; then
    truncate -s 8G "$disk.new" && mkfs.ext4 -q -F -L ciphrel "$disk.new" && mv "$disk.new" "$disk" ||
        { echo "guest: cannot make the prefix disk $disk" >&2; exit 1; }
fi

cpu=${CIPHREL_GUEST_CPU:-max}
# SMAP off: QEMU 7.2's TCG faults on the far return that 32-bit Wine makes with it on.
timeout --foreground 3600 qemu-system-x86_64 -accel tcg,thread=multi -smp 2 -m 6144 \
    -cpu "$cpu,smap=off,la57=off" -nographic -no-reboot -nodefaults -serial file:"$job/console" \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet panic=-1 ciphrel.job=$job" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=passthrough,id=hostroot,multidevs=remap \
    -drive file="$disk",format=raw,if=virtio,cache=unsafe </dev/null
qemu=$?
[ -f "$job/output" ] && cat "$job/output"
if [ ! -f "$job/status" ]; then
    echo "guest: the guest ended without the command's status (qemu exit $qemu); its console:" >&2
    tail -n 30 "$job/console" >&2
    exit 1
fi
exit "$(cat "$job/status")"
