#!/usr/bin/env bash
# Makes OUT/root.img: an ext4 image of a Debian 12 root for ARCH (mipsel, arm64)
# with systemd, udev and ModemManager from the archive this machine uses, and the
# kernel's modules (from KERNEL, target_packages.sh's), for the systemd boot
# cases. mmdebstrap runs as root of a user namespace of its own, which maps
# every id to itself and has a binfmt_misc of its own (Linux 6.7 and later),
# where qemu-user-static runs the root's programs: the
# machine's own binfmt_misc is left alone. Skips (77), saying why, where that
# namespace or qemu-user-static cannot be had. Run as root.
#   debian_root.sh ARCH KERNEL OUT
set -euo pipefail
arch=$1 cache=$(cd "$2" && pwd) out=$3 include=systemd,systemd-sysv,udev,kmod,modemmanager
[[ -e $out/root.img && $(cat "$out/included" 2>/dev/null) == "$include" ]] && exit 0
kdeb=$(echo "$cache"/debs/linux-image-*_"$arch".deb) kernel=$(dpkg-deb -f "$kdeb" Package)
kernel=${kernel#linux-image-} work=$out/work
rm -rf "$out" && mkdir -p "$work/files/etc/systemd/system" && cd "$work"
# Descriptors left open by the caller push mmdebstrap's own pipe past fd 9,
# which its sh cannot name ("Bad fd number").
for fd in /proc/self/fd/*; do fd=${fd##*/}; ((fd < 3 || fd == 255)) || eval "exec $fd>&-"; done
apt-get download -q -o APT::Sandbox::User=root qemu-user-static >/dev/null 2>&1 &&
    dpkg-deb -x qemu-user-static_*.deb qemu || { echo "skipped: no qemu-user-static from the archive"; exit 77; }
# in_namespace COMMAND...: COMMAND in new user (every id mapped to itself),
# mount and PID namespaces.
in_namespace() {
    unshare -U sh -c 'until [ -n "$(cat /proc/self/uid_map)" ]; do sleep .1; done
        exec unshare -mpf --kill-child "$@"' - "$@" &
    # An unreadable link (the child mid-exec or gone) is no sign of a new namespace.
    until ns=$(readlink /proc/$!/ns/user) && [[ $ns != $(readlink /proc/self/ns/user) ]]; do
        kill -0 $! 2>/dev/null || return 1
        sleep .1
    done
    { echo 0 0 4294967295 >/proc/$!/uid_map && echo 0 0 4294967295 >/proc/$!/gid_map; } || { kill $!; return 1; }
    wait $!
}
binfmt='mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc'
in_namespace sh -c "$binfmt" 2>/dev/null ||
    { echo "skipped: no binfmt_misc of a user namespace's own here (Linux 6.7 or later has them)"; exit 77; }

# Masked: the console's getty, an automount the kernel cannot do (no
# autofs4), and e2scrub_reap (13 s of a busy boot). A machine id, lest each
# boot be a first boot that asks questions on the console.
for unit in getty.target proc-sys-fs-binfmt_misc.automount e2scrub_reap.service; do
    ln -s /dev/null "files/etc/systemd/system/$unit"
done
echo malta >files/etc/hostname
modules=./lib/modules/$kernel
# The archive this machine uses.
mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.{list,sources} 2>/dev/null |
         sed -n 's/^URIs: *//p; s/^deb \(\[[^]]*\] \)*\([^ ]*\) .*/\2/p' | head -n 1) || true
in_namespace mmdebstrap --quiet --mode=root --arch="$arch" --variant=minbase --skip=check/qemu \
    --include=$include "--dpkgopt=path-exclude=/usr/share/"{doc,locale,man}"/*" \
    --setup-hook="$binfmt && sed 's|:/usr|:$work/qemu/usr|' $work/qemu/usr/lib/binfmt.d/qemu-${arch/arm64/aarch64}.conf \
        >/proc/sys/fs/binfmt_misc/register" \
    --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
    --customize-hook="dpkg-deb --fsys-tarfile $kdeb | tar -x -C \"\$1\" --wildcards '$modules/modules.*' \
        '$modules/kernel/drivers/usb/*' '$modules/kernel/drivers/virtio/*' '$modules/kernel/fs/ext4/*' \
        '$modules/kernel/fs/jbd2/*' $modules/kernel/drivers/block/virtio_blk.ko $modules/kernel/fs/mbcache.ko \
        $modules/kernel/lib/crc16.ko $modules/kernel/crypto/crc32c_generic.ko" \
    --customize-hook="chroot \"\$1\" depmod $kernel" --customize-hook="cp -a $work/files/. \"\$1\"" \
    bookworm root "deb ${mirror:-http://deb.debian.org/debian} bookworm main" >"$out/build.log" 2>&1 ||
    { tail -n 40 "$out/build.log"; exit 1; }
# (mmdebstrap empties the machine id at its end.)
echo 4d616c74614465626961e12d726f6f74 >root/etc/machine-id
mke2fs -q -t ext4 -L debian -d root "$out/root.img.part" 1G >>"$out/build.log" && mv "$out/root.img.part" "$out/root.img"
echo "$include" >"$out/included"
cd / && rm -rf "$work"
