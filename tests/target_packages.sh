#!/usr/bin/env bash
# Fetches what a full-system boot of the target needs from Debian's mipsel
# archive (the Malta kernel and a static busybox) into CACHE, once: a second
# run downloads nothing. Nothing fetched belongs in the repository.
#   target_packages.sh CACHE
set -euo pipefail
cache=$1
[[ -s $cache/vmlinuz && -s $cache/busybox ]] && exit 0

debs=$cache/debs
apt=$(cd "$(dirname "$0")/../scripts" && pwd)/mipsel-apt.sh
fetch() {
    local kernel
    mkdir -p "$debs"
    kernel=$("$apt" "$cache" apt-cache depends linux-image-4kc-malta |
             sed -n 's/^ *Depends: \(linux-image-[0-9].*-4kc-malta\)$/\1/p' | head -n 1)
    [[ -n $kernel ]] || { echo "no Malta kernel package found" >&2; exit 1; }
    (cd "$debs" && "$apt" "$cache" apt-get download "$kernel" busybox-static >/dev/null)
    echo "fetched $kernel and busybox-static into $debs"
}
compgen -G "$debs/linux-image-*-4kc-malta_*.deb" >/dev/null &&
    compgen -G "$debs/busybox-static_*.deb" >/dev/null || fetch

take() { dpkg-deb --fsys-tarfile "$1" | tar -xO --wildcards "$2" >"$3.part" && mv "$3.part" "$3"; }
take "$debs"/busybox-static_*.deb ./bin/busybox "$cache/busybox"
take "$debs"/linux-image-*-4kc-malta_*.deb './boot/vmlinuz-*' "$cache/vmlinuz"
