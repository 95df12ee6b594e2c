# The line station on the guest's own USB serial drivers: tarnix-station watches
# /dev/serial/by-id/*, whose links busybox mdev makes and removes as udev would
# (/etc/mdev.conf, /lib/mdev/serial-by-id), while the host plugs adapters in and pulls them out
# (tests/vm/station-line.py). Its journal and the units' logs go to the host's folder shared as
# "share"; the host asks for the end by creating stop in it, and the station is then stopped
# with SIGTERM. No adapter is plugged in at boot.
load_usb_modules
load_9p_modules
mkdir -p /share
mount -t 9p -o trans=virtio,version=9p2000.L share /share || say "mount of the share failed"
# Without -f mdev goes to the background once its first scan is done and it listens.
mdev -d
cd /data
tarnix-station --journal /share/journal.jsonl --log-dir /share/logs display-config.upd \
    '/dev/serial/by-id/*' </dev/null >/tmp/station.out 2>/tmp/station.err &
station=$!
say "station-started"
tries=0
while [ ! -e /share/stop ] && [ "$tries" -lt 2400 ]; do
    usleep 100000
    tries=$((tries + 1))
done
[ -e /share/stop ] || say "no stop from the host within 240 s"
say "by-id $(ls /dev/serial/by-id 2>/dev/null | tr '\n' ' ')"
kill -TERM "$station"
wait "$station"
say "exit $?"
say "stdout-begin"
cat /tmp/station.out
say "stdout-end"
say "stderr-begin"
cat /tmp/station.err
say "stderr-end"
kill "$(pidof mdev)" 2>/dev/null
umount /share
