#!/usr/bin/env bash
# Runs apt-get or apt-cache against Debian's mipsel archive through a private
# package list kept under CACHE, so that the machine's own apt set-up (and
# its list of architectures) is left alone. The list is fetched on first use.
#   mipsel-apt.sh CACHE apt-get|apt-cache ARG...
set -euo pipefail
cache=$1 tool=$2
shift 2
apt_dir=$cache/apt
opts=(-q -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
      -o APT::Architecture=mipsel -o APT::Architectures::=mipsel
      -o APT::Sandbox::User=root -o Debug::NoLocking=1)
if [[ ! -e $apt_dir/lists/fetched ]]; then
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    apt-get "${opts[@]}" update >/dev/null
    touch "$apt_dir/lists/fetched"
fi
exec "$tool" "${opts[@]}" "$@"
