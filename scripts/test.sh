#!/usr/bin/env bash
# The whole test suite. Installs what it needs on a fresh Debian machine.
#  1. static analysis of src/ and sim-modem/ (cppcheck, clang-tidy);
#  2. a checked build (clang, AddressSanitizer, UndefinedBehaviorSanitizer,
#     libFuzzer): the host suite under the sanitizers, then the exchange
#     fuzzer for FUZZ_SECONDS (default 60);
#  3. the mipsel cross builds, within their size budgets, and a static musl
#     build for this machine;
#  4. the shipped host build: the host suite (also against the musl build),
#     valgrind's memcheck, the packages and the release tarball, and the
#     mipsel binaries under qemu-user (the universal one on three CPUs) and
#     on a Malta kernel in qemu-system, through its UART and, with the
#     kernel's cdc-acm driver, its USB host.
#   scripts/test.sh --quick    only the host cases and the router kit's
#                              script cases, in the shipped build (labels
#                              host, unit and kit)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
quick_tools=("${build_tools[@]}" "${simulator_libs[@]}" /usr/include/gtest/gtest.h=libgtest-dev
             mipsel-linux-gnu-g++=g++-mipsel-linux-gnu busybox=busybox shellcheck=shellcheck)
if [[ ${1:-} == --quick ]]; then
    need_packages "${quick_tools[@]}"
else
    need_packages "${quick_tools[@]}" "${checked_build_tools[@]}" \
        clang-tidy=clang-tidy cppcheck=cppcheck valgrind=valgrind qemu-mipsel=qemu-user \
        qemu-system-mipsel=qemu-system-mips cpio=cpio man=man-db dpkg-shlibdeps=dpkg-dev file=file \
        musl-gcc=musl-tools "${buildroot_tools[@]}" "${openwrt_tools[@]}" "${debian_root_tools[@]}"
fi

musl=${MUSL_BUILD_DIR:-build-musl}
# The shipped build, in a directory of its own, so that a build made by hand
# (the README's, with another generator or without tests) is never reused here.
build=${BUILD_DIR:-build-test}
shipped_build() {
    cmake -S . -B "$build" -G Ninja -DMODEM_DIALMODE_WERROR=ON -DBUILD_TESTING=ON \
        -DMODEM_DIALMODE_TARGET_TOOL="$PWD/build-mipsel/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_STATIC_TOOL="$PWD/build-mipsel-static/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_MUSL_TOOL="$PWD/build-mipsel-musl/modem-dialmode" \
        -DMODEM_DIALMODE_MUSL_TOOL="$PWD/$musl/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_PACKAGE="$(ls "$PWD"/build-mipsel/packages/modem-dialmode_*_mipsel.deb)"
    cmake --build "$build"
}

if [[ ${1:-} == --quick ]]; then
    # The OpenWrt package's scripts need its .ipk, made of the universal build.
    scripts/cross-build.sh
    shipped_build
    run_suite "$build" -L '^(host|unit|kit)$' --fixture-exclude-setup openwrt_runtime
    exit
fi

checked=$(configure_checked_build)
cmake --build "$checked"
scripts/analyse.sh
echo "== the host suite under AddressSanitizer and UndefinedBehaviorSanitizer"
run_suite "$checked"
echo "== fuzzing the exchange"
scripts/fuzz.sh

echo "== mipsel cross builds"
scripts/cross-build.sh

echo "== a static musl build for this machine, for the host suite"
# musl-gcc compiles the C++ sources too (they use C headers only).
musl_first=()
[[ -f $musl/CMakeCache.txt ]] || musl_first=(-G Ninja -DCMAKE_CXX_COMPILER=musl-gcc)
cmake -S . -B "$musl" "${musl_first[@]}" -DBUILD_TESTING=OFF -DMODEM_DIALMODE_SIMULATOR=OFF \
    -DMODEM_DIALMODE_STATIC=ON -DMODEM_DIALMODE_WERROR=ON >/dev/null
cmake --build "$musl" --target modem-dialmode hardening_probe >/dev/null

echo "== the shipped build: host, memcheck, package, qemu-user and qemu-system suites"
shipped_build
run_suite "$build"
