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
mount -t tmpfs tmpfs /run
# The host's /tmp stays in view under /run, and what the job needs of it (boot.sh lists it;
# the job's own folder is among it when the checkout lies there) is bound back into the
# guest's /tmp.
cp "$job/host-tmp" /run/host-tmp.list
mkdir -p /run/host-tmp
mount --bind /tmp /run/host-tmp
mount -t tmpfs tmpfs /tmp
while IFS= read -r entry; do
    source=/run/host-tmp/${entry#/tmp/}
    if [ -d "$source" ]; then
        mkdir -p "$entry"
    elif [ -e "$source" ]; then
        touch "$entry"
    else
        continue
    fi
    mount --bind "$source" "$entry"
done </run/host-tmp.list
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
