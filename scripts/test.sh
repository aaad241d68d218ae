#!/usr/bin/env bash
# The whole test suite. Installs what it needs on a fresh Debian machine.
#  1. a checked build (clang, AddressSanitizer, UndefinedBehaviorSanitizer,
#     libFuzzer): the exchange fuzzer for FUZZ_SECONDS (default 60), and
#  2. beside it, the host suite under the sanitizers, then static analysis
#     of src/ and sim-modem/ (cppcheck, clang-tidy);
#  3. the cross builds, within their size budgets: mipsel with glibc, and
#     the universal binary of every core family;
#  4. the shipped host build: the host suite, valgrind's memcheck, the
#     packages and the release tarball, the universal binaries under
#     qemu-user (natively for x86-64), the mipsel ones (the universal one on
#     three CPUs) and on a Malta kernel in qemu-system, through its UART and,
#     with the kernel's cdc-acm driver, its USB host, and the arm64 and armhf
#     packages on an AArch64 kernel.
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
        qemu-system-mipsel=qemu-system-mips qemu-system-aarch64=qemu-system-arm cpio=cpio man=man-db \
        dpkg-shlibdeps=dpkg-dev file=file "${buildroot_tools[@]}" "${openwrt_tools[@]}" "${debian_root_tools[@]}"
fi

# The shipped build, in a directory of its own, so that a build made by hand
# (the README's, with another generator or without tests) is never reused here.
build=${BUILD_DIR:-build-test}
shipped_build() {
    cmake -S . -B "$build" -G Ninja -DMODEM_DIALMODE_WERROR=ON -DBUILD_TESTING=ON \
        -DMODEM_DIALMODE_TARGET_TOOL="$PWD/build-mipsel/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_STATIC_TOOL="$PWD/build-mipsel-static/modem-dialmode" \
        -DMODEM_DIALMODE_TARGET_MUSL_TOOL="$PWD/build-mipsel-musl/modem-dialmode" \
        -DMODEM_DIALMODE_UNIVERSAL_TOOLS="$(ls "$PWD"/build-{mips,arm,aarch64,x86_64}-musl/modem-dialmode 2>/dev/null | paste -sd ';')" \
        -DMODEM_DIALMODE_TARGET_PACKAGE="$(ls "$PWD"/build-mipsel/packages/modem-dialmode_*_mipsel.deb)"
    cmake --build "$build"
}

if [[ ${1:-} == --quick ]]; then
    # The OpenWrt package's scripts need its .ipk, made of the universal build.
    scripts/cross-build.sh mipsel
    shipped_build
    run_suite "$build" -L '^(host|unit|kit)$' --fixture-exclude-setup openwrt_runtime
    exit
fi

checked=$(configure_checked_build)
cmake --build "$checked"
# The fuzzer keeps a core busy for its minute; beside it, the host suite
# under the sanitizers (which mostly sleeps), then the analysis on the other.
scripts/fuzz.sh >"$checked/fuzz.out" 2>&1 &
fuzzing=$!
trap 'pkill -P "$fuzzing"; kill "$fuzzing"' EXIT
echo "== the host suite under AddressSanitizer and UndefinedBehaviorSanitizer"
run_suite "$checked"
scripts/analyse.sh
echo "== fuzzing the exchange"
wait "$fuzzing" || { cat "$checked/fuzz.out"; exit 1; }
trap - EXIT
cat "$checked/fuzz.out"

echo "== cross builds for every core family"
scripts/cross-build.sh

echo "== the shipped build: host, memcheck, package, qemu-user and qemu-system suites"
shipped_build
run_suite "$build"
