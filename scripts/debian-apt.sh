#!/usr/bin/env bash
# Runs apt-get or apt-cache against Debian's archive for ARCH (mipsel, arm64,
# ...), binary packages and source packages, through a private package list,
# so that the machine's own apt set-up (its list of architectures, and sources
# that name no deb-src) is left alone. The list is kept beside the tests'
# fixtures (see tests/fixtures.sh), and fetched anew once a day.
#   debian-apt.sh ARCH apt-get|apt-cache ARG...
set -euo pipefail
arch=$1 tool=$2
shift 2
apt_dir=${MODEM_DIALMODE_FIXTURES:-/var/cache/modem-dialmode}/apt-$arch
opts=(-q -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
      -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/sources"
      -o APT::Architecture="$arch" -o APT::Architectures::="$arch"
      -o APT::Sandbox::User=root -o Debug::NoLocking=1)
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources"
exec {lock}>"$apt_dir.lock"
flock "$lock"
if [[ -z $(find "$apt_dir/lists/fetched-with-sources" -mmin -1440 2>/dev/null) ]]; then
    # The machine's sources, each also asked for its source packages.
    for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -f $list ]] && sed -n 's/^deb \(.*\)/deb \1\ndeb-src \1/p' "$list"
    done >"$apt_dir/sources/machine.list"
    for list in /etc/apt/sources.list.d/*.sources; do
        [[ -f $list ]] && sed 's/^Types: *deb *$/Types: deb deb-src/' "$list" \
            >"$apt_dir/sources/$(basename "$list")"
    done
    apt-get "${opts[@]}" update >/dev/null
    touch "$apt_dir/lists/fetched-with-sources"
fi
exec {lock}>&-
exec "$tool" "${opts[@]}" "$@"
