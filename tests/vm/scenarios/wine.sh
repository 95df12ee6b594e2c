# The 32-bit Windows programs under Wine. The host's root, shared read-only, becomes the root of
# a chroot that has the host's Wine; the writable share (/tmp/work there) holds the programs,
# their files and the Wine prefix, which is created on the first boot and kept. COM1 is this
# machine's /dev/ttyS0, the real serial driver. tarnix_wine names the run: update, download, or
# usb-update (COM11 is the USB adapter's /dev/ttyUSB0, as Windows numbers USB adapters high).

root=/host
# The shares change only from this side while the machine runs, so the guest may cache them.
share_options=trans=virtio,version=9p2000.L,msize=262144,cache=loose
load_9p_modules
mount -t 9p -o "ro,$share_options" hostroot "$root" || say "mount of the host's root failed"
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount -t devtmpfs devtmpfs "$root/dev"
mkdir -p "$root/dev/pts" "$root/dev/shm"
mount -t devpts devpts "$root/dev/pts"
mount -t tmpfs tmpfs "$root/dev/shm"
mount -t tmpfs tmpfs "$root/tmp"
mkdir -p "$root/tmp/work"
mount -t 9p -o "$share_options" work "$root/tmp/work" || say "mount of the work share failed"

# in_host_root COMMAND...: runs the command in the host's root, in the folder of the files.
in_host_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/tmp/work/home \
        WINEPREFIX=/tmp/work/prefix WINEARCH=win32 WINEDEBUG=-all \
        WINEDLLOVERRIDES='mscoree,mshtml=' WINESERVER=/usr/lib/wine/wineserver32 \
        /bin/sh -c 'cd /tmp/work/files && exec "$@"' sh "$@"
}

wine=/usr/lib/wine/wine
server=/usr/lib/wine/wineserver32

# wine_port COMn DEVICE: the COM port is the device, from the next Wine session on (the server
# writes the registry when it ends by itself).
wine_port() {
    in_host_root "$wine" reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f \
        </dev/null >/dev/null 2>&1 || say "the $1 registry entry could not be set"
    in_host_root "$server" -w
}

mkdir -p "$root/tmp/work/home"
if [ ! -f "$root/tmp/work/prefix/system.reg" ]; then
    say "wine-prefix creating"
    started=$(seconds_since_boot)
    in_host_root "$wine" wineboot -i </dev/null >/tmp/wineboot.log 2>&1
    wine_port COM1 /dev/ttyS0
    say "wine-prefix created in $(awk -v a="$started" -v b="$(seconds_since_boot)" 'BEGIN { printf "%.0f", b - a }') s"
fi

case "${tarnix_wine:-}" in
    usb-update)
        load_usb_modules
        wait_for_usb_ports 1
        wine_port COM11 /dev/ttyUSB0
        run_program tarnix in_host_root "$wine" tarnix.exe 0x89 display-config.upd 0 COM11
        ;;
    update) run_program tarnix in_host_root "$wine" tarnix.exe 0x89 display-config.upd 0 1 ;;
    download) run_program tarnix-service in_host_root "$wine" tarnix-service.exe 1 info status download small.ttf ;;
    *) say "no such Wine run: ${tarnix_wine:-}" ;;
esac
# What the run changed in the prefix need not be kept.
in_host_root "$server" -k 2>/dev/null
sync
