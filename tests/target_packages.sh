#!/usr/bin/env bash
# Fetches what a full-system boot of the target needs from Debian's ARCH
# archive (the Malta kernel, or arm64's, its USB host and CDC-ACM modules, and a static
# busybox) into CACHE, once: a second run downloads nothing. Nothing fetched
# belongs in the repository.
#   target_packages.sh mipsel|arm64 CACHE
set -euo pipefail
arch=$1 cache=$2
# In the order they load: the package has no modules.dep to work it out.
modules=(usb/common/usb-common usb/core/usbcore usb/host/uhci-hcd usb/class/cdc-acm) flavour=4kc-malta
[[ $arch == mipsel ]] ||
    modules=(usb/common/usb-common usb/core/usbcore usb/host/xhci-hcd usb/host/xhci-pci usb/class/cdc-acm) flavour=$arch
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
    kernel=$("$apt" "$arch" apt-cache depends "linux-image-$flavour" |
             sed -n "s/^ *Depends: \(linux-image-[0-9].*-$flavour\)\$/\1/p" | head -n 1)
    [[ -n $kernel ]] || { echo "no $flavour kernel package found" >&2; exit 1; }
    (cd "$debs" && "$apt" "$arch" apt-get download "$kernel" busybox-static >/dev/null)
    echo "fetched $kernel and busybox-static into $debs"
}
compgen -G "$debs/linux-image-*-${flavour}_*.deb" >/dev/null &&
    compgen -G "$debs/busybox-static_*.deb" >/dev/null || fetch

take() { dpkg-deb --fsys-tarfile "$1" | tar -xO --wildcards "$2" >"$3.part" && mv "$3.part" "$3"; }
take "$debs"/busybox-static_*.deb ./bin/busybox "$cache/busybox"
take "$debs"/linux-image-*-"$flavour"_*.deb './boot/vmlinuz-*' "$cache/vmlinuz"
mkdir -p "$cache/modules"
for m in "${modules[@]}"; do
    take "$debs"/linux-image-*-"$flavour"_*.deb "./lib/modules/*/kernel/drivers/$m.ko" "$cache/modules/${m##*/}.ko"
done
printf '%s\n' "${modules[@]##*/}" >"$cache/modules/order"
