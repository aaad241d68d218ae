# Sourced by the set-up scripts: installs the Debian packages that are
# missing, so that a fresh machine needs nothing but these scripts.

# need_packages WHAT=PACKAGE...: installs PACKAGE when WHAT is missing. WHAT
# is a command on the PATH, an absolute path, or empty for the package itself.
need_packages() {
    local missing=() item what package
    for item in "$@"; do
        what=${item%%=*} package=${item#*=}
        if [[ -z $what ]]; then
            dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' && continue
        elif [[ $what == /* ]]; then
            [[ -e $what ]] && continue
        else
            command -v "$what" >/dev/null 2>&1 && continue
        fi
        missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    if [[ $(id -u) != 0 ]]; then
        echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
        return 1
    fi
    echo "installing ${missing[*]}" >&2
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_tools=(cmake=cmake g++=g++ ninja=ninja-build readelf=binutils)
