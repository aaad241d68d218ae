#!/usr/bin/env bash
# Static analysis of the tool (src/) and the simulated modem (sim-modem/):
# cppcheck, and clang-tidy with the checks in .clang-tidy. Fails on any
# finding. Uses the checked build's compile commands.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages clang-tidy=clang-tidy cppcheck=cppcheck
build=$(configure_checked_build)

echo "== cppcheck"
cppcheck --std=c++20 --enable=warning,style,performance,portability --error-exitcode=1 \
    --inline-suppr --quiet --suppressions-list=.cppcheck-suppressions -I src -I sim-modem src sim-modem
echo "== clang-tidy"
if ! findings=$(clang-tidy -p "$build" --quiet src/*.cpp sim-modem/*.cpp 2>&1); then
    grep -v 'warnings generated' <<<"$findings"
    exit 1
fi
echo "static analysis: clean"
