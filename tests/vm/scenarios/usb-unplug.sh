# Record-mode update through the USB adapter TNXA0001 as ttyUSB0; the host pulls the adapter
# out (QEMU's device_del) once the update is under way. The guest notes when its ttyUSB0 went.
load_usb_modules
wait_for_usb_ports 1
watch_unplug ttyUSB0 &
watcher=$!
cd /data
run_program tarnix tarnix 0x89 display-config.upd 0 ttyUSB0
end_watch "$watcher"
