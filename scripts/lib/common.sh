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

# cpp-httplib for the Windows build of tarnix-station. Debian ships the library split into
# declarations and a shared library, which mingw cannot link; Debian's source package of the
# very version the Linux build links has the upstream single header, which the Windows build
# uses header-only. The three files are checked against the digests pinned here, and Debian's
# patches are applied in the order of debian/patches/series (+deb12u1 carries a security fix),
# so that both builds serve with the same code.
HTTPLIB_DEBIAN_POOL=http://deb.debian.org/debian/pool/main/c/cpp-httplib
HTTPLIB_DEBIAN_VERSION=0.11.4+ds-1+deb12u1
HTTPLIB_DEBIAN_FILES=(
    "cpp-httplib_0.11.4+ds-1+deb12u1.dsc a4dde747bbde7cc9fa62cdf50d61140a0eaefb7f1383497ef2d48daf3bf5f9ec"
    "cpp-httplib_0.11.4+ds.orig.tar.xz 8b1a5df569003b6a4f24c68489bbda5c64aec94697bdc9ebba5d79408b2ae7eb"
    "cpp-httplib_0.11.4+ds-1+deb12u1.debian.tar.xz a0adf8a38610806f6d94ba69839438635e5e6580775e28ff31d6a081e34f1484"
)

# Downloads one file of the source package into DIR unless a copy with the pinned digest is
# there already; false with HTTPLIB_FETCH_FAILURE set otherwise.
fetch_httplib_file() {
    local dir=$1 name=$2 digest=$3
    if ! { [ -f "$dir/$name" ] && echo "$digest  $dir/$name" | sha256sum --check --status; }; then
        if ! curl -fsSL --retry 2 --max-time 300 -o "$dir/$name.part" "$HTTPLIB_DEBIAN_POOL/$name"; then
            HTTPLIB_FETCH_FAILURE="$HTTPLIB_DEBIAN_POOL/$name could not be downloaded"
            return 1
        fi
        mv "$dir/$name.part" "$dir/$name"
    fi
    if ! echo "$digest  $dir/$name" | sha256sum --check --status; then
        HTTPLIB_FETCH_FAILURE="$name does not have the pinned SHA-256 $digest"
        rm -f "$dir/$name"
        return 1
    fi
}

# fetch_httplib_header DIR: makes DIR/include/httplib.h, the patched single header of Debian's
# cpp-httplib $HTTPLIB_DEBIAN_VERSION, keeping the downloads in DIR, so that a second run
# fetches nothing. False, with the reason in HTTPLIB_FETCH_FAILURE, when it cannot be had.
# shellcheck disable=SC2034  # HTTPLIB_FETCH_FAILURE is read by the calling script
fetch_httplib_header() {
    local dir=$1 entry source patch
    HTTPLIB_FETCH_FAILURE=""
    if [ -f "$dir/include/httplib.h" ] && [ "$(cat "$dir/include/debian-version.txt" 2>/dev/null)" = "$HTTPLIB_DEBIAN_VERSION" ]; then
        return 0
    fi
    if ! ensure_packages curl xz-utils patch; then
        HTTPLIB_FETCH_FAILURE="curl, xz-utils and patch are needed to fetch it"
        return 1
    fi
    mkdir -p "$dir"
    for entry in "${HTTPLIB_DEBIAN_FILES[@]}"; do
        fetch_httplib_file "$dir" "${entry% *}" "${entry#* }" || return 1
    done
    source=$dir/source
    rm -rf "$source" "$dir/include"
    mkdir -p "$source"
    if ! tar -xJf "$dir/cpp-httplib_0.11.4+ds.orig.tar.xz" -C "$source" --strip-components=1 ||
        ! tar -xJf "$dir/cpp-httplib_${HTTPLIB_DEBIAN_VERSION}.debian.tar.xz" -C "$source"; then
        HTTPLIB_FETCH_FAILURE="the source package could not be unpacked"
        return 1
    fi
    while read -r patch _; do
        case $patch in '' | '#'*) continue ;; esac
        if ! patch -d "$source" -p1 --batch --quiet <"$source/debian/patches/$patch"; then
            HTTPLIB_FETCH_FAILURE="Debian's patch $patch does not apply"
            return 1
        fi
    done <"$source/debian/patches/series"
    mkdir -p "$dir/include"
    cp "$source/httplib.h" "$source/LICENSE" "$dir/include/"
    echo "$HTTPLIB_DEBIAN_VERSION" >"$dir/include/debian-version.txt"
}

# A Windows build folder configured before the posix thread model was chosen keeps its win32
# compiler in the cache, and so would go on without tarnix-station: it is configured afresh.
forget_win32_thread_model() {
    local dir=$1
    if grep -qE '^CMAKE_CXX_COMPILER:[A-Z]+=.*-g\+\+-win32$' "$dir/CMakeCache.txt" 2>/dev/null; then
        echo "Configuring $dir afresh: its compiler has the win32 thread model (no std::thread)"
        rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
}
