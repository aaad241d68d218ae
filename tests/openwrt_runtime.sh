#!/usr/bin/env bash
# Builds OpenWrt's runtime for the Malta guest from the sources in
# shared/vendor/openwrt/ (see its README): procd, ubusd, logd and logread,
# uci, jsonfilter, opkg and apk, with glibc, json-c, zlib, OpenSSL and flock
# from Debian's mipsel archive, into OUT/root with OpenWrt's paths
# and base files; and apk for this machine, OUT/host-apk, whose
# mkpkg makes the project's .apk. Beside them ModemManager 1.24.0 as OpenWrt
# builds it, without udev (here with its generic plugin alone), on Debian's
# GLib and D-Bus. Skips (77), saying why, without the sources.
#   openwrt_runtime.sh PROJECT OUT
set -euo pipefail
project=$(cd "$1" && pwd) out=$2 jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
vendor=$project/../shared/vendor/openwrt mm_vendor=$project/../shared/vendor/modemmanager
[[ -d $vendor && -d $mm_vendor ]] || { echo "skipped: no OpenWrt or ModemManager sources at $vendor(/../modemmanager)"; exit 77; }
[[ $(cat "$out/built" 2>/dev/null) == "with ModemManager" ]] && exit 0
root=$out/root sys=$out/sysroot src=$out/src log=$out/build.log
rm -rf "$out" && mkdir -p "$root/usr/bin" "$sys" "$src" "$out/debs"
quiet() { "$@" >>"$log" 2>&1 || { tail -n 40 "$log"; exit 1; }; } # its output only if it fails
for t in "$vendor"/*.tar.xz "$mm_vendor"/*.tar.xz; do tar -xf "$t" -C "$src"; done
ln -s "$("$project/scripts/apk-tools.sh" "$src/apk-tools" "$src/host-apk")" "$out/host-apk"

# Debian's run-time libraries go into the root; the -dev packages, and
# util-linux but for its flock (which procd.sh locks with), into the sysroot;
# GLib and D-Bus too, for ModemManager.
(cd "$out/debs" && quiet "$project/scripts/debian-apt.sh" mipsel apt-get download libc6 libgcc-s1 libatomic1 \
    libjson-c5 zlib1g libssl3 libjson-c-dev zlib1g-dev libssl-dev util-linux \
    libglib2.0-0 libffi8 libpcre2-8-0 libmount1 libblkid1 libselinux1 libglib2.0-dev libffi-dev libpcre2-dev \
    libmount-dev libblkid-dev uuid-dev libselinux1-dev libsepol-dev libdbus-1-3 libdbus-1-dev libexpat1 \
    dbus-daemon dbus-bin dbus-system-bus-common libsystemd0 liblzma5 libzstd1 liblz4-1 libgcrypt20 \
    libgpg-error0 libcap2 libapparmor1 libaudit1 libaudit-common libcap-ng0)
for deb in "$out"/debs/*.deb; do
    dpkg-deb -x "$deb" "$sys"
    [[ $deb == *-dev_* || $deb == */util-linux_* ]] || dpkg-deb -x "$deb" "$root"
done
for link in $(find "$sys" -lname '/*'); do ln -sf "$sys$(readlink "$link")" "$link"; done
find "$root/usr/share" -mindepth 1 -maxdepth 1 ! -name dbus-1 -exec rm -rf {} +
rm -rf "$root"/usr/lib/mipsel-linux-gnu/gconv && cp "$sys/usr/bin/flock" "$root/usr/bin/"

libs=$sys/usr/lib/mipsel-linux-gnu
export PKG_CONFIG_LIBDIR=$libs/pkgconfig PKG_CONFIG_SYSROOT_DIR=$sys LDFLAGS=-s
export CFLAGS="-I$root/include -I$sys/usr/include -I$sys/usr/include/mipsel-linux-gnu"
for dir in "$root/lib" "$libs" "$sys/lib/mipsel-linux-gnu"; do LDFLAGS+=" -L$dir -Wl,-rpath-link,$dir"; done
# cross TREE [CMAKE_ARG...]: TREE built for mipsel and installed into the
# root (TARGET, when set, is all that is built).
cross() {
    local dir=$src/$1 paths=()
    shift
    for kind in BIN SBIN LIB INCLUDE; do paths+=("-DCMAKE_INSTALL_${kind}DIR=/${kind,,}"); done
    quiet cmake -S "$dir" -B "$dir" -G Ninja --no-warn-unused-cli -Wno-deprecated -DCMAKE_SYSTEM_NAME=Linux \
        -DCMAKE_SYSTEM_PROCESSOR=mipsel -DCMAKE_C_COMPILER=mipsel-linux-gnu-gcc -DCMAKE_FIND_ROOT_PATH="$root;$sys" \
        -DCMAKE_LIBRARY_ARCHITECTURE=mipsel-linux-gnu -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY \
        -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY -DCMAKE_INSTALL_PREFIX=/ "${paths[@]}" -DBUILD_LUA=OFF "$@"
    DESTDIR=$root quiet ninja -C "$dir" -j "$jobs" "${target:-install}"
}
cross libubox -DBUILD_EXAMPLES=OFF
cross ubus -DBUILD_EXAMPLES=OFF
target=udebug cross udebug -Ducode_include_dir=/ # its library alone: the daemon needs ucode
cp "$src"/udebug/libudebug.so "$root/lib/" && cp "$src"/udebug/udebug*.h "$root/include/"
cross uci
cross ubox
cross jsonpath
# Debian's glibc 2.36 has no strlcpy, and GCC 12 sees an overflow that is none.
printf '%s\n' 'static inline __SIZE_TYPE__ strlcpy(char *d, const char *s, __SIZE_TYPE__ n)' \
    '{ __SIZE_TYPE__ l = __builtin_strlen(s), c = l < n ? l : n - 1;' \
    '  if (n) { __builtin_memcpy(d, s, c); d[c] = 0; } return l; }' >"$src/strlcpy.h"
CFLAGS="$CFLAGS -Wno-error=format-overflow -include $src/strlcpy.h" cross procd
cross opkg-lede -DBUILD_TESTS=OFF -DVERSION="$(basename "$vendor"/opkg-lede-*.tar.xz .tar.xz | cut -d- -f3)"
mv "$root/bin/uci" "$root/sbin/" && mv "$root/bin/opkg-cl" "$root/bin/opkg" && cp -r "$root/share" "$root/usr/" && rm -r "$root/share"
mv "$root/bin/jsonpath" "$root/usr/bin/jsonfilter" && mv "$root/bin/jshn" "$root/usr/bin/"
printf '%s\n' '[binaries]' "c = 'mipsel-linux-gnu-gcc'" "strip = 'mipsel-linux-gnu-strip'" "pkgconfig = 'pkg-config'" \
    '[properties]' "pkg_config_libdir = '$PKG_CONFIG_LIBDIR'" "sys_root = '$sys'" '[host_machine]' \
    "system = 'linux'" "cpu_family = 'mips'" "cpu = 'mips32r2'" "endian = 'little'" >"$src/cross.ini"
quiet meson setup "$src/apk" "$src/apk-tools" --cross-file "$src/cross.ini" --prefix=/usr \
    --auto-features=disabled -Darch=mipsel_24kc
quiet ninja -C "$src/apk" -j "$jobs" && DESTDIR=$root quiet meson install --no-rebuild -C "$src/apk"
# As OpenWrt's package of it, but for the plugins, and tests and examples.
quiet meson setup "$src/mm" "$src"/ModemManager-* --cross-file "$src/cross.ini" --prefix=/usr --sysconfdir=/etc \
    --localstatedir=/var --auto-features=disabled -Dplugin_generic=enabled -Dbuiltin_plugins=true -Dudev=false \
    -Dudevdir=/lib/udev -D{tests,examples,systemd_suspend_resume,systemd_journal,introspection,man}=false \
    -D{bash_completion,mbim,qmi,qrtr}=false -Dsystemdsystemunitdir=no -Dpolkit=no
quiet ninja -C "$src/mm" -j "$jobs" && DESTDIR=$root quiet meson install --no-rebuild -C "$src/mm"

# OpenWrt's shell pieces, and what its base-files package would add: logd
# enabled (for the system section its script looks for), root as the one
# user (ubusd wants one), opkg's architecture.
rm -rf "$root"/include "$root"/usr/include "$root"/lib/*.a "$root"/usr/lib/pkgconfig && cp -r "$src"/basefiles/. "$root/"
rm -rf "$root"/usr/share/{icons,locale,dbus-1/interfaces}
mkdir -p "$root"/etc/rc.d "$root"/etc/config && ln -s ../init.d/log "$root/etc/rc.d/S12log"
echo 'config system' >"$root/etc/config/system"
printf '%s\n' 'root:x:0:0:root:/root:/bin/sh' 'messagebus:x:100:100::/:/bin/false' >"$root/etc/passwd"
printf '%s\n' 'root:x:0:' 'messagebus:x:100:' >"$root/etc/group"
printf '%s\n' 'dest root /' 'lists_dir ext /var/opkg-lists' 'arch all 1' 'arch noarch 1' \
    'arch mipsel_24kc 10' >"$root/etc/opkg.conf"
# OpenWrt's ModemManager package files, enabled; the system bus, as
# OpenWrt's dbus package starts it, at /run as Debian's D-Bus has it; and
# netifd's library, read by the package's monitor: no netifd runs here.
cp -r "$src"/openwrt-modemmanager/net/modemmanager/files/. "$root/"
printf '#!/bin/sh /etc/rc.common\nSTART=60\nUSE_PROCD=1\nstart_service() {\n\tmkdir -p /var/run/dbus\n\tprocd_open_instance
\tprocd_set_param command /usr/bin/dbus-daemon --system --nofork --nopidfile\n\tprocd_close_instance\n}\n' >"$root/etc/init.d/dbus"
chmod +x "$root"/etc/init.d/{modemmanager,dbus} "$root"/usr/sbin/ModemManager-*
ln -s ../init.d/modemmanager "$root/etc/rc.d/S70modemmanager" && ln -s ../init.d/dbus "$root/etc/rc.d/S60dbus"
ln -s var/run "$root/run" && echo 4d616c74614f70656e577274e12d726f >"$root/etc/machine-id"
mkdir -p "$root/lib/netifd" && echo 'proto_set_available() { :; }' >"$root/lib/netifd/netifd-proto.sh"
echo "with ModemManager" >"$out/built"
