# Shared by the scripts: package installation and the build.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Installs the Debian packages that are missing, when run as root; otherwise names them.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages: ${missing[*]}. Install them (as root: apt-get install ${missing[*]})." >&2
        return 1
    fi
    echo "Installing ${missing[*]} ..."
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

ensure_build_tools() {
    ensure_packages cmake make g++ python3 libgtest-dev libgmock-dev googletest
}

# build_tree DIR [cmake options...]: configures and builds the project in DIR.
build_tree() {
    local dir=$1
    shift
    cmake -S "$TOP" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j 2
}
