# One update into three modules at once, on the 16550 and on the two USB adapters; the host
# pulls TNXA0001 out in mid-update. The fleet's report is printed for the host to read.
load_usb_modules
wait_for_usb_ports 2
for folder in /sys/bus/usb-serial/devices/*; do
    if [ "$(cat "$folder/../../serial")" = TNXA0001 ]; then
        watch_unplug "${folder##*/}" &
        watcher=$!
    fi
done
cd /data
run_program fleet tarnix-fleet --log-dir /tmp/fleet-logs --json /tmp/fleet.json \
    display-config.upd ttyS0 usb:TNXA0001 usb:TNXA0002
end_watch "$watcher"
say "report-begin"
cat /tmp/fleet.json
say "report-end"
