# Sourced by the set-up scripts: what they share. They install the Debian
# packages that are missing, so a fresh machine needs nothing but them.

# need_packages WHAT=PACKAGE...: installs PACKAGE when WHAT is missing. WHAT
# is a command on the PATH, an absolute path, or empty for the package itself.
need_packages() {
    local missing=() item what package
    for item in "$@"; do
        what=${item%%=*} package=${item#*=}
        if [[ -z $what ]]; then
            dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' && continue
        elif [[ $what == /* ]]; then
            [[ -e $what ]] && continue
        else
            command -v "$what" >/dev/null 2>&1 && continue
        fi
        missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    if [[ $(id -u) != 0 ]]; then
        echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
        return 1
    fi
    apt-get update -qq
    # A minute or more can pass in silence below: say what it is spent on.
    local count size
    count=$(apt-get install -s --no-install-recommends "${missing[@]}" | grep -c '^Inst ' || true)
    size=$(apt-get install --print-uris -qq --no-install-recommends "${missing[@]}" |
           awk '{ bytes += $3 } END { printf "%.0f", bytes / 1e6 }')
    echo "installing ${missing[*]}: $count packages with what they need, $size MB to fetch" >&2
    local start=$SECONDS
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    echo "installed in $((SECONDS - start)) s" >&2
}

build_tools=(cmake=cmake g++=g++ ninja=ninja-build readelf=binutils)
# What the simulated modem needs beyond them: its USB modem speaks usbredir.
simulator_libs=(/usr/include/usbredirparser.h=libusbredirparser-dev)
# The checked build's compiler, with the runtime of its sanitizers and
# libFuzzer (the clang package alone lacks it), and the tests' framework.
checked_build_tools=(clang++=clang =libclang-rt-14-dev /usr/include/gtest/gtest.h=libgtest-dev)

# What Buildroot needs of the build machine to build the router kit's
# package, and what its check-package needs (it runs with Debian's python3).
buildroot_tools=(make=make xz=xz-utils rsync=rsync bc=bc unzip=unzip wget=wget patch=patch bzip2=bzip2 =perl
                 flake8=flake8 =python3-magic dpkg-source=dpkg-dev)

# What the OpenWrt guest's runtime needs to build (from shared/vendor/openwrt),
# beyond the mipsel cross compiler: apk-tools builds with Meson, and for this
# machine too, with OpenSSL and zlib; ModemManager with Meson, GLib's code
# generators, xsltproc and gettext.
openwrt_tools=(meson=meson pkg-config=pkg-config /usr/include/openssl/ssl.h=libssl-dev /usr/include/zlib.h=zlib1g-dev
               gdbus-codegen=libglib2.0-dev-bin xsltproc=xsltproc msgfmt=gettext)

# What the Debian guest's root needs: made from the archive, put into an ext4
# image, and read back (its module list) without mounting it.
debian_root_tools=(mmdebstrap=mmdebstrap mke2fs=e2fsprogs debugfs=e2fsprogs)

# Flash budgets of the stripped binaries, in bytes: the dynamic glibc mipsel
# one, and the universal one of every core family (static musl).
glibc_budget=6144
musl_budget=40960

# build_target BUILD TOOLCHAIN BUDGET [CMAKE_ARG...]: the tool and the
# hardening probe cross-built in BUILD with the toolchain file TOOLCHAIN;
# prints the stripped binary's size and library needs, and fails when it is
# over BUDGET bytes (- for none).
build_target() {
    local build=$1 first=() cross size needed
    # The generator and the toolchain are fixed at the first configure, maybe
    # by hand as the README shows; given again, CMake refuses another
    # generator and warns that the toolchain file went unused.
    [[ -f $build/CMakeCache.txt ]] || first=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$2")
    cmake -S . -B "$build" "${first[@]}" -DBUILD_TESTING=OFF -DMODEM_DIALMODE_WERROR=ON "${@:4}" >/dev/null
    if ! cmake --build "$build" --target modem-dialmode hardening_probe >"$build/build.log" 2>&1; then
        cat "$build/build.log" >&2
        return 1
    fi
    # A soft-float MIPS link warns of Debian's hard-float libgcc (see
    # cmake/mipsel-linux-musl.cmake); any other warning is shown.
    grep -i warning "$build/build.log" |
        grep -v 'uses -msoft-float (set by .*), .* uses -mhard-float$' >&2 || true
    cross=$(sed -n 's/^CMAKE_STRIP:FILEPATH=\(.*\)strip$/\1/p' "$build/CMakeCache.txt")
    "${cross}strip" -o "$build/modem-dialmode.stripped" "$build/modem-dialmode"
    size=$(stat -c %s "$build/modem-dialmode.stripped")
    needed=$("${cross}readelf" -d "$build/modem-dialmode.stripped" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | paste -sd ' ')
    echo "$build: stripped $size bytes (budget: $3), needs: ${needed:-nothing}"
    if [[ $3 != - ]] && ((size > $3)); then
        echo "$build/modem-dialmode is $size bytes stripped, over its $3-byte budget" >&2
        return 1
    fi
}

# Builds use one job a core.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
# run_suite BUILD [CTEST_ARG...]: the tests of BUILD. Most cases sleep through
# the tool's fixed waits, so many run at once; those that keep a core busy
# (builds, guests) hold one of the machine's cores, which ctest hands out
# (see tests/CMakeLists.txt).
run_suite() {
    local cores
    cores=$(realpath "$1")/cores.json
    echo '{"version": {"major": 1, "minor": 0}, "local": [{"cores": [{"id": "0", "slots": '"$(nproc)"'}]}]}' >"$cores"
    ctest --test-dir "$1" --resource-spec-file "$cores" --output-on-failure -j 24 "${@:2}"
}

# configure_checked_build: configures the checked build (clang, ASan, UBSan,
# libFuzzer) in CHECKED_BUILD_DIR (default build-checked) and prints its path.
configure_checked_build() {
    local build=${CHECKED_BUILD_DIR:-build-checked}
    need_packages "${build_tools[@]}" "${simulator_libs[@]}" "${checked_build_tools[@]}"
    # Once configured, the build runs CMake again itself when a list file
    # changes: the fuzzer and the analysis can then share it at once.
    [[ -f $build/build.ninja ]] || CXX=clang++ cmake -S . -B "$build" -G Ninja -DMODEM_DIALMODE_FUZZ=ON \
        -DMODEM_DIALMODE_WERROR=ON >/dev/null
    echo "$build"
}
