#!/usr/bin/env bash
# Builds modem-dialmode and runs it once: against the modem when one is
# attached, otherwise against the simulated modem. Installs what it needs on a
# fresh Debian machine.
#   scripts/demo.sh                    as above
#   scripts/demo.sh --simulated [SCRIPT]
#                                      always the simulated modem, playing
#                                      SCRIPT (see build-demo/sim-modem/sim-modem --help)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages "${build_tools[@]}" "${simulator_libs[@]}"

build=${BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DBUILD_TESTING=OFF -DMODEM_DIALMODE_SIMULATOR=ON >/dev/null
cmake --build "$build" >/dev/null
device=$(sed -n 's/^MODEM_DIALMODE_DEVICE:STRING=//p' "$build/CMakeCache.txt")

if [[ ${1:-} != --simulated && -c $device ]]; then
    echo "== modem-dialmode, talking to the modem at $device"
    status=0
    "$build/modem-dialmode" || status=$?
    echo "== exit status $status"
    exit "$status"
fi

script=${2:-'await; echo; delay 300; send "\r\nOK\r\n"'}
record=$(mktemp)
trap 'rm -f "$record"' EXIT
echo "== modem-dialmode, talking to a simulated modem at $device (takes about 7 s)"
echo "== the modem's script: $script"
status=0
"$build/sim-modem/sim-modem" --script "$script" --record "$record" -- "$build/modem-dialmode" || status=$?
echo "== exit status $status"
echo "== what the modem saw, and the line settings the tool left:"
sed 's/^/   /' "$record"
exit "$status"
