#!/usr/bin/env bash
# Makes a fixture once: what the tests need that is slow to make (the guests'
# kernel, OpenWrt's runtime, a Debian root, Buildroot's host tools). It is
# kept outside any build tree, under $MODEM_DIALMODE_FIXTURES (default
# /var/cache/modem-dialmode), so that a fresh clone on this machine finds it,
# in a folder named after LINK and a hash of what it is made from: COMMAND
# and INPUT... (files and folders by their bytes, anything else as it is
# written). A change
# to any of them makes a new one; the old one goes once the new one is made.
# LINK, in the build tree, is made to point to it. A lock keeps two suites
# from making or using one fixture at once.
#   fixture.sh [--each-run] LINK INPUT... -- COMMAND [ARG...]
# COMMAND, given the fixture's folder as its last argument, makes it, unless
# that was done already; with --each-run it runs every time, in the same
# folder (a test that builds anew in what it keeps).
set -euo pipefail
each_run=no
[[ $1 == --each-run ]] && { each_run=yes; shift; }
link=$1 inputs=()
shift
while [[ $1 != -- ]]; do inputs+=("$1"); shift; done
shift
inputs+=("$1")
root=${MODEM_DIALMODE_FIXTURES:-/var/cache/modem-dialmode}
name=$(basename "$link")
key=$(for input in "${inputs[@]}"; do
    if [[ -e $input ]]; then find -L "$input" -type f -print0 | sort -z | xargs -0 sha256sum | cut -d ' ' -f 1
    else echo "$input"; fi
done | sha256sum | cut -c 1-12)
dir=$root/$name.$key
mkdir -p "$root" "$(dirname "$link")"
exec {lock}>"$dir.lock"
flock "$lock"
ln -sfn "$dir" "$link"
[[ -e $dir/made && $each_run == no ]] && exit 0
[[ -e $dir/made || $each_run == yes ]] || rm -rf "$dir"
mkdir -p "$dir"
"$@" "$dir"
touch "$dir/made"
for old in "$root/$name".*; do
    [[ $old == "$dir" || $old == *.lock ]] && continue
    flock -n "$old.lock" rm -rf "$old" "$old.lock" || true
done
