# Shared by the scripts: package installation and the build.
# shellcheck shell=bash

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# apt-get waits for the package manager's lock (another installation, unattended upgrades)
# instead of failing at once.
APT_LOCK_WAIT=(-o DPkg::Lock::Timeout=600)

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
    apt-get "${APT_LOCK_WAIT[@]}" update -qq
    DEBIAN_FRONTEND=noninteractive apt-get "${APT_LOCK_WAIT[@]}" install -y -qq \
        --no-install-recommends "${missing[@]}" >/dev/null
}

ensure_build_tools() {
    # cpp-httplib (found by pkg-config) serves tarnix-station's page.
    ensure_packages cmake make g++ python3 libgtest-dev libgmock-dev googletest pkg-config \
        libcpp-httplib-dev
}

# The two RFC 2217 servers that the tests of the network ports run against: ser2net and
# pyserial's. The tests start ser2net themselves, in the foreground, and stop it again; a system
# ser2net service that the installation itself started (Debian's package may start one) is
# stopped again, one that ran before is left alone.
ensure_network_test_servers() {
    local before=no
    system_ser2net_running && before=yes
    ensure_packages ser2net python3-serial || return 1
    if [ "$before" = no ] && system_ser2net_running; then
        echo "Stopping the ser2net service that its installation started ..."
        service ser2net stop >/dev/null 2>&1 || true
    fi
}

# The browser and the metrics server that the station's page and metrics are tested with. The
# tests start them on loopback and stop them; a prometheus service that the installation itself
# started is stopped again, one that ran before is left alone.
ensure_station_test_tools() {
    local before=no
    pgrep -x prometheus >/dev/null 2>&1 && before=yes
    ensure_packages chromium prometheus || return 1
    if [ "$before" = no ] && pgrep -x prometheus >/dev/null 2>&1; then
        echo "Stopping the prometheus service that its installation started ..."
        service prometheus stop >/dev/null 2>&1 || pkill -x prometheus || true
    fi
}

# Whether the system's ser2net service runs: under systemd, or as the init script's daemon
# with its pid file (a ser2net that a test started has neither).
system_ser2net_running() {
    if [ -d /run/systemd/system ] && systemctl is-active --quiet ser2net 2>/dev/null; then
        return 0
    fi
    [ -r /run/ser2net.pid ] && kill -0 "$(cat /run/ser2net.pid)" 2>/dev/null
}

# build_tree DIR [cmake options...]: configures and builds the project in DIR.
build_tree() {
    local dir=$1
    shift
    cmake -S "$TOP" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j 2
}
