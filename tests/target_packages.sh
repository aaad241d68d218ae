#!/usr/bin/env bash
# Fetches what a full-system boot of the target needs from Debian's mipsel
# archive (the Malta kernel, its USB host and CDC-ACM modules, and a static
# busybox) into CACHE, once: a second run downloads nothing. Nothing fetched
# belongs in the repository.
#   target_packages.sh CACHE
set -euo pipefail
cache=$1
# In the order they load: the package has no modules.dep to work it out.
modules=(usb/common/usb-common usb/core/usbcore usb/host/uhci-hcd usb/class/cdc-acm)
have_all() {
    local m
    [[ -s $cache/vmlinuz && -s $cache/busybox ]] || return 1
    for m in "${modules[@]}"; do [[ -s $cache/modules/${m##*/}.ko ]] || return 1; done
}
have_all && exit 0

debs=$cache/debs
apt=$(cd "$(dirname "$0")/../scripts" && pwd)/debian-apt.sh
fetch() {
    local kernel
    mkdir -p "$debs"
    kernel=$("$apt" mipsel apt-cache depends linux-image-4kc-malta |
             sed -n 's/^ *Depends: \(linux-image-[0-9].*-4kc-malta\)$/\1/p' | head -n 1)
    [[ -n $kernel ]] || { echo "no Malta kernel package found" >&2; exit 1; }
    (cd "$debs" && "$apt" mipsel apt-get download "$kernel" busybox-static >/dev/null)
    echo "fetched $kernel and busybox-static into $debs"
}
compgen -G "$debs/linux-image-*-4kc-malta_*.deb" >/dev/null &&
    compgen -G "$debs/busybox-static_*.deb" >/dev/null || fetch

take() { dpkg-deb --fsys-tarfile "$1" | tar -xO --wildcards "$2" >"$3.part" && mv "$3.part" "$3"; }
take "$debs"/busybox-static_*.deb ./bin/busybox "$cache/busybox"
take "$debs"/linux-image-*-4kc-malta_*.deb './boot/vmlinuz-*' "$cache/vmlinuz"
mkdir -p "$cache/modules"
for m in "${modules[@]}"; do
    take "$debs"/linux-image-*-4kc-malta_*.deb "./lib/modules/*/kernel/drivers/$m.ko" "$cache/modules/${m##*/}.ko"
done
printf '%s\n' "${modules[@]##*/}" >"$cache/modules/order"
