#!/usr/bin/env bash
# Benchmark: one AT exchange with the simulated modem (it echoes the command
# and answers OK after 100 ms), made by this tool (the host build, and the
# mipsel build under qemu-user) and by the tools people use for one AT
# command from a script: chat, socat, busybox microcom and modem-cmd.
#
# For each: wall time (median and range over REPEATS runs), of which the
# waits the tool is told or built to make, CPU time (user + system), peak
# resident memory, system calls (one traced run) and the stripped binary size
# on x86-64 and on mipsel (the peers' mipsel binaries from Debian's archive).
# Writes build-bench/bench/results.md and results.png. Not part of the tests.
#   bench/run.sh [REPEATS]      (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/common.sh
need_packages "${build_tools[@]}" "${simulator_libs[@]}" strace=strace gnuplot=gnuplot-nox \
    chat=ppp socat=socat busybox=busybox modem-cmd=modem-cmd \
    qemu-mipsel=qemu-user mipsel-linux-gnu-g++=g++-mipsel-linux-gnu

repeats=${1:-5}
build=$root/build-bench
out=$build/bench
mkdir -p "$out/runs"
cmake -S . -B "$build" -G Ninja -DBUILD_TESTING=OFF -DMODEM_DIALMODE_SIMULATOR=ON >/dev/null
cmake --build "$build" --target all bench_measure >/dev/null
scripts/cross-build.sh >/dev/null
sim=$build/sim-modem/sim-modem
device=$(sed -n 's/^MODEM_DIALMODE_DEVICE:STRING=//p' "$build/CMakeCache.txt")
script='await; echo; delay 100; send "\r\nOK\r\n"'
printf 'AT+DIALMODE=0\r\n' >"$out/runs/command"

# The contenders' exchanges. Each runs inside the simulated modem's private
# /dev, with its words (the timer's command, or nothing) put before the
# contender itself, so that only the contender is measured.
dialmode() { "$@" "$build/modem-dialmode"; }
dialmode_qemu() { "$@" qemu-mipsel -L /usr/mipsel-linux-gnu "$root/build-mipsel/modem-dialmode"; }
chat_exchange() { stty -F "$device" 115200 raw -echo && "$@" chat -t 5 '' AT+DIALMODE=0 OK <>"$device" >&0; }
socat_exchange() { "$@" socat -t 0.5 - "$device,b115200,raw,echo=0" <"$out/runs/command"; }
microcom_exchange() { "$@" busybox microcom -t 500 -s 115200 "$device" <"$out/runs/command"; }
modem_cmd_exchange() { "$@" modem-cmd "$device" AT+DIALMODE=0 1; }
export -f dialmode dialmode_qemu chat_exchange socat_exchange microcom_exchange modem_cmd_exchange
export build root device out

stripped_size() { # FILE [STRIP]: size after stripping; scripts as they are
    if head -c 4 "$1" | grep -q ELF; then
        "${2:-strip}" -o "$out/runs/stripped" "$1" && stat -c %s "$out/runs/stripped"
    else
        stat -c %s "$1"
    fi
}

mipsel_size() { # PACKAGE:PATH inside it, or :FILE for a file at hand
    local package=${1%%:*} path=${1#*:} cache=$build/mipsel-packages
    [[ -n $package ]] || { stripped_size "$path" mipsel-linux-gnu-strip; return; }
    mkdir -p "$cache/debs"
    compgen -G "$cache/debs/${package}_*.deb" >/dev/null ||
        (cd "$cache/debs" && "$root/scripts/debian-apt.sh" mipsel apt-get download "$package" >/dev/null)
    dpkg-deb --fsys-tarfile "$cache"/debs/"${package}"_*.deb | tar -xO "./$path" >"$out/runs/mipsel-binary"
    stripped_size "$out/runs/mipsel-binary" mipsel-linux-gnu-strip
}

# run EXCHANGE [WORD]...: one exchange, the words before the contender;
# prints the contender's output, and leaves the modem's record and the
# errors in runs/
run() {
    "$sim" --script "$script" --record "$out/runs/record" -- bash -c '"$@"' exchange "$@" 2>"$out/runs/stderr"
}

first_line() { # TEXT: its first line, whole words up to 80 characters, for the table
    head -n 1 <<<"$1" | tr -d '\r|' | awk '{ line = ""; for (i = 1; i <= NF; i++) {
        if (length(line) + length($i) >= 80) { line = line " ..."; break }
        line = line (i > 1 ? " " : "") $i } print line }'
}

stats() { # [DECIMALS]: numbers on stdin -> "median min max"
    sort -n | awk -v d="${1:-0}" '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        f = "%." d "f"; printf f " " f " " f "\n", m, v[1], v[NR] }'
}

# contender NAME SUCCESS WAITS X86 MIPSEL EXCHANGE: measures one contender
# and adds its row. SUCCESS is "output" (the OK reaches standard output) or
# "status" (chat talks on the line itself and tells by its exit status);
# WAITS the fixed waits it is built or told to make, in ms; X86 its x86-64
# binary and MIPSEL its mipsel one as PACKAGE:PATH in Debian's archive, or
# :FILE at hand (either empty for none); EXCHANGE the function above.
contender() {
    local name=$1 success=$2 waits=$3 x86=$4 mipsel=$5 exchange=$6
    echo "== $name" >&2
    : >"$out/runs/times"
    local done_ok=yes why= i status reply
    for ((i = 0; i < repeats; i++)); do
        status=0
        reply=$(run "$exchange" "$build/bench/bench_measure" "$out/runs/time") || status=$?
        cat "$out/runs/time" >>"$out/runs/times"
        if ! grep -q '^received [0-9]* "AT+DIALMODE=0' "$out/runs/record"; then
            done_ok=no why="the modem got no command; it said: $(first_line "$reply")"
        elif [[ $success == output && $reply != *OK* ]] || ((status != 0)); then
            done_ok=no why="status $status, output: $(first_line "$reply")"
        fi
    done
    [[ $done_ok == yes ]] || done_ok="no ($why)"
    local wall wall_min wall_max cpu cpu_min cpu_max rss rss_min rss_max calls
    read -r wall wall_min wall_max < <(awk '{ print $1 / 1000 }' "$out/runs/times" | stats)
    read -r cpu cpu_min cpu_max < <(awk '{ print ($2 + $3) / 1000 }' "$out/runs/times" | stats 2)
    read -r rss rss_min rss_max < <(awk '{ print $4 }' "$out/runs/times" | stats)

    if [[ $exchange == *_qemu ]]; then
        # The guest's own calls, as the emulator lists them.
        run "$exchange" env QEMU_STRACE=1 >/dev/null || true
        calls=$(grep -cE '^[0-9]+ [a-z_0-9]+\(' "$out/runs/stderr" || true)
    else
        run "$exchange" strace -f -c -o "$out/runs/strace" -- >/dev/null || true
        calls=$(awk '$NF == "total" { print $4 }' "$out/runs/strace")
    fi
    local x86_bytes=- mipsel_bytes=- overhead=-
    [[ -n $x86 ]] && x86_bytes=$(stripped_size "$x86")
    [[ -n $mipsel ]] && mipsel_bytes=$(mipsel_size "$mipsel")
    [[ $done_ok == yes ]] && overhead=$((wall - waits))
    echo "| $name | $done_ok | $wall ($wall_min–$wall_max) | $waits | $overhead | $cpu ($cpu_min–$cpu_max) | $rss ($rss_min–$rss_max) | $calls | $x86_bytes | $mipsel_bytes |" >>"$out/results.md"
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$cpu" "$rss" "$calls" "${x86_bytes/-/0}" "${mipsel_bytes/-/0}" >>"$out/results.tsv"
}

{
    echo "| contender | exchange done | wall ms | fixed waits ms | overhead ms | CPU ms | peak RSS KiB | system calls | x86-64 bytes | mipsel bytes |"
    echo "|---|---|---|---|---|---|---|---|---|---|"
} >"$out/results.md"
: >"$out/results.tsv"
contender "modem-dialmode" output 7000 "$build/modem-dialmode" ":$root/build-mipsel/modem-dialmode" dialmode
contender "modem-dialmode (mipsel, qemu-user)" output 7000 "" "" dialmode_qemu
contender "chat" status 0 /usr/sbin/chat ppp:usr/sbin/chat chat_exchange
contender "socat" output 500 /usr/bin/socat socat:usr/bin/socat socat_exchange
contender "busybox microcom" output 500 /usr/bin/busybox busybox:bin/busybox microcom_exchange
contender "modem-cmd" output 1000 /usr/bin/modem-cmd modem-cmd:usr/bin/modem-cmd modem_cmd_exchange

{
    echo
    echo "$repeats runs each, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -m), $(uname -r)."
    echo "Wall, CPU and RSS: median (range). The modem answers 100 ms after the command:"
    echo "a tool that waits for the answer spends that in its overhead, modem-dialmode in"
    echo "its fixed 4 s wait. Under qemu-user the figures include the emulator;"
    echo "its system calls are the guest's. busybox is the whole multi-call binary;"
    echo "modem-cmd is a Python script (the interpreter is not counted)."
} >>"$out/results.md"

gnuplot <<EOF
set terminal pngcairo size 1400,900 font ",10"
set output "$out/results.png"
set datafile separator "\t"
set style data histograms
set style fill solid 0.8 border -1
set boxwidth 0.8
set xtics rotate by -25 scale 0
set key off
set grid ytics
set multiplot layout 2,2 title "One AT exchange with a simulated modem ($repeats runs, medians)"
set title "CPU time (ms, user + system)"
plot "$out/results.tsv" using 2:xtic(1) lc rgb "#4477aa"
set title "Peak resident memory (KiB)"
plot "$out/results.tsv" using 3:xtic(1) lc rgb "#66ccee"
set title "System calls (one traced run)"
set logscale y
plot "$out/results.tsv" using 4:xtic(1) lc rgb "#228833"
set title "Stripped size (bytes): x86-64, mipsel"
set key top left
plot "$out/results.tsv" using 5:xtic(1) title "x86-64" lc rgb "#ccbb44", \
     "" using 6 title "mipsel" lc rgb "#ee6677"
unset multiplot
EOF
cat "$out/results.md"
echo "written: $out/results.md, $out/results.png" >&2
