#!/usr/bin/env bash
# Builds the checked build (clang, ASan, UBSan, libFuzzer) if needed and runs
# the exchange fuzzer for FUZZ_SECONDS (default 60), starting from the
# committed seeds. Fails on any crash or broken invariant, showing the
# fuzzer's whole log (the report and its stack trace); the input that broke
# it is left as BUILD/fuzz/crash-*. On success only the final stats show;
# the log stays in BUILD/fuzz/fuzz.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/common.sh
build=$(configure_checked_build)
cmake --build "$build" --target fuzz_exchange >/dev/null
fuzzer=$(cd "$build" && pwd)/tests/fuzz_exchange
mkdir -p "$build/fuzz/corpus"
cd "$build/fuzz"
if ! "$fuzzer" -max_total_time="${FUZZ_SECONDS:-60}" -max_len=20000 \
        -dict="$root/tests/fuzz_exchange.dict" -print_final_stats=1 \
        corpus "$root/tests/fuzz_seeds" >fuzz.log 2>&1; then
    cat fuzz.log
    exit 1
fi
grep -E '^(stat::|Done)' fuzz.log
