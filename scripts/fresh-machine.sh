#!/usr/bin/env bash
# The README tried as a new user would: makes a fresh Debian 12 root
# (mmdebstrap, variant important, plus git), clones this repository's
# current commit into it, with shared/ beside the clone as every developer
# has it (so that every case runs there, and cold), and runs there, as root,
# the documented commands exactly as they stand: the README's first set-up
# command, the build and install commands of docs/building.md, the README's
# second set-up command (the whole test suite), building.md's package
# commands and the README's build for a router. A step the README takes for
# granted fails here, not on a new user's machine. Needs root and Debian's
# archive.
#   scripts/fresh-machine.sh [WORK]     (default build-fresh; removed first)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
need_packages mmdebstrap=mmdebstrap
work=$(realpath -m "${1:-build-fresh}")
# Not under /root, which is closed to the unprivileged user that a case runs
# the simulated modem as.
root=$work/root clone=/srv/modem-dialmode

# doc_block FILE HEADING: the first ```sh block under the line HEADING of
# FILE in the clone.
doc_block() {
    awk -v heading="$2" '$0 == heading { under = 1; next }
        under && /^```sh$/ { inside = 1; next }
        inside && /^```$/ { exit }
        inside { print }' "$root$clone/$1"
}

# inside COMMAND: runs COMMAND with bash as root in the fresh root, which gets
# a /proc of its own and the machine's /dev and /sys. pivot_root rather than
# chroot, because inside a chroot the kernel refuses user namespaces.
inside() {
    unshare --mount --pid --fork --propagation private -- bash -euo pipefail -c '
        root=$1
        mount --bind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        cd "$root" && mkdir -p old-root && pivot_root . old-root
        umount -l /old-root && rmdir /old-root
        exec env -i MODEM_DIALMODE_FRESH_ROOT=1 HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
            bash -euo pipefail -c "$2"' inside "$root" "$1"
}

# step TITLE BLOCK: runs each line of BLOCK in the clone, in order.
step() {
    local line
    while IFS= read -r line; do
        [[ -n $line ]] || continue
        echo "== fresh machine, $1: $line"
        local start=$SECONDS
        inside "cd $clone && $line"
        echo "== $((SECONDS - start)) s: $line"
    done <<<"$2"
}

rm -rf "$work" && mkdir -p "$work"
echo "== making a fresh Debian 12 root in $root"
# From the archive this machine uses, which is also the one the root will use.
sources=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
for f in /etc/apt/sources.list.d/*.sources; do [[ -e $f ]] && sources+=$'\n'$(cat "$f"); done
mmdebstrap --quiet --variant=important --include=git bookworm "$root" - <<<"$sources"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet --no-checkout "file://$PWD" "$root$clone"
[[ ! -d ../shared ]] || cp -a ../shared "$root${clone%/*}/"
git -C "$root$clone" checkout --quiet -B main "$(git rev-parse HEAD)"

setup=$(doc_block README.md '## Set up on a fresh machine')
(($(wc -l <<<"$setup") == 2)) || { echo "the README's set-up block is not two commands" >&2; exit 1; }
step "set-up command 1" "$(sed -n 1p <<<"$setup")"
step "building and installing" "$(doc_block docs/building.md '## Building and installing')"
step "set-up command 2" "$(sed -n 2p <<<"$setup")"
step "Debian packages" "$(doc_block docs/building.md '## Debian packages')"
step "the build for a router" "$(doc_block README.md '## Building for a router')"
echo "== fresh machine: every documented command passed"
rm -rf "$work"
