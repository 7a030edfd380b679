#!/bin/sh
# Runs inside the guest on the host's root: the guest's own kernel file systems, tmpfs where
# 9p cannot serve (sockets, special files), the prefix disk, then the job; then power off.
job=$1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mkdir -p /var/lib/ciphrel
mount -t ext4 /dev/vda /var/lib/ciphrel
(
    . "$job/env"
    export PATH="$(dirname "$0"):$PATH"     # the guest's `wine` (scripts/guest/wine)
    cd "$(cat "$job/cwd")" && eval "$(cat "$job/command")"
) >"$job/output" 2>&1 </dev/null
echo $? >"$job/status"
sync
umount /var/lib/ciphrel
echo o >/proc/sysrq-trigger
sleep 30
