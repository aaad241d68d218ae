#!/usr/bin/env bash
# Benchmark: what the router kit's watcher costs while no modem comes, which
# on a router is nearly all the time. Each contender watches a node that
# never appears, under BusyBox's shell and applets, for SECONDS (default 60),
# alone in a PID namespace of its own (so every process it starts counts,
# and nothing else does): the processes it started, the CPU time it and they
# used, and the memory of what stays running.
# Contenders: the watcher hearing the kernel's device events (BusyBox's
# uevent); its fallback, a look once a second, where BusyBox has no uevent;
# and the watcher as it was at commit BEFORE (default 037efa7, which polled),
# when this checkout has it. Writes build-bench/idle/results.md. Not part of
# the tests; run as root (the PID namespace).
#   bench/idle.sh [SECONDS [BEFORE]]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages busybox=busybox unshare=util-linux
seconds=${1:-60} before=${2:-037efa7}
out=$PWD/build-bench/idle
rm -rf "$out" && mkdir -p "$out/busybox" "$out/polled"
busybox --install -s "$out/busybox"
cp -P "$out/busybox"/* "$out/polled/" && rm "$out/polled/uevent"
cp packaging/common/modem-dialmode-plugged "$out/now"
have_before=no
git show "$before:packaging/common/modem-dialmode-plugged" >"$out/before" 2>/dev/null && have_before=yes

# measure APPLETS HELPER: runs as PID 1 of a new PID namespace; prints the
# processes started, the CPU ms and the resident KiB of the watcher's
# processes over the run. Only builtins run here between the two counts,
# but for the one sleep.
cat >"$out/measure" <<'SH'
applets=$1 helper=$2 seconds=$3
PATH=$applets:$PATH MODEM_DIALMODE_LOCK_DIR=$(dirname "$helper") "$applets/sh" "$helper" -w /dev/never-there &
sleep 1
tree_cpu() { # clock ticks of every process but this one, with its waited-for children
    local total=0 pid stat fields
    for pid in /proc/[0-9]*; do
        [[ ${pid#/proc/} == 1 ]] && continue
        read -r stat <"$pid/stat" 2>/dev/null || continue
        read -ra fields <<<"${stat##*) }"
        total=$((total + fields[11] + fields[12] + fields[13] + fields[14]))
    done
    echo "$total"
}
read -r first </proc/sys/kernel/ns_last_pid
cpu_first=$(tree_cpu)
sleep "$seconds"
cpu_last=$(tree_cpu)
read -r last </proc/sys/kernel/ns_last_pid
rss=0 pss=0 names=
for pid in /proc/[0-9]*; do
    [[ ${pid#/proc/} == 1 ]] && continue
    while read -r key value _; do
        [[ $key == VmRSS: ]] && rss=$((rss + value))
        [[ $key == Name: ]] && names+="$value "
    done <"$pid/status" 2>/dev/null
    while read -r key value _; do
        [[ $key == Pss: ]] && pss=$((pss + value))
    done <"$pid/smaps_rollup" 2>/dev/null
done
# Less this script's own: the sleep, and the two command substitutions.
echo "$((last - first - 3)) $(((cpu_last - cpu_first) * 1000 / $(getconf CLK_TCK))) $rss $pss $names"
SH

row() { # NAME APPLETS HELPER
    local started cpu rss pss names
    echo "== $1" >&2
    read -r started cpu rss pss names < <(unshare --pid --fork --mount-proc \
        bash "$out/measure" "$2" "$3" "$seconds")
    echo "| $1 | $((started * 60 / seconds)) | $((cpu * 60 / seconds)) | $rss | $pss | $names |"
}
{
    echo "| watcher | processes started a minute | CPU ms a minute | resident KiB | proportional KiB | processes left running |"
    echo "|---|---|---|---|---|---|"
    row "kernel's device events (uevent)" "$out/busybox" "$out/now"
    row "fallback: a look once a second" "$out/polled" "$out/now"
    [[ $have_before == no ]] || row "as at $before" "$out/busybox" "$out/before"
    echo
    echo "$seconds s each, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -m), $(uname -r)," \
         "$(busybox | head -n 1 | cut -d ' ' -f 1-2). Resident memory is the sum of the processes' VmRSS," \
         "which counts the pages they share (BusyBox, libc) once per process; proportional memory (Pss)" \
         "splits those among their users."
} >"$out/results.md"
cat "$out/results.md"
