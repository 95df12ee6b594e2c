# Two USB adapters (TNXA0001, TNXA0002); the update goes to usb:TNXA0002. While tarnix holds
# the port, every adapter's latency_timer is sampled: the low-latency request shows as 1 on the
# adapter in use, the other one keeps its own.
load_usb_modules
wait_for_usb_ports 2
# latency_samples: lines "DEVICE SERIAL VALUE" every 0.1 s until /tmp/sampling is removed.
latency_samples() {
    local folder
    while [ -f /tmp/sampling ]; do
        for folder in /sys/bus/usb-serial/devices/*; do
            echo "${folder##*/} $(cat "$folder/../../serial") $(cat "$folder/latency_timer")"
        done
        usleep 100000
    done
}
: >/tmp/sampling
latency_samples >/tmp/latency.log &
sampler=$!
cd /data
run_program tarnix tarnix 0x89 display-config.upd 0 usb:TNXA0002
rm -f /tmp/sampling
wait "$sampler"
# Each adapter's distinct values in the order seen.
for serial in TNXA0001 TNXA0002; do
    say "latency-seen $serial $(grep " $serial " /tmp/latency.log | cut -d' ' -f3 | uniq | tr '\n' ' ')"
done
wait_for_usb_ports 2
