# Record-mode update of the example file through the USB adapter chosen by its serial number.
load_usb_modules
wait_for_usb_ports 1
cd /data
run_program tarnix tarnix 0x89 display-config.upd 0 usb:TNXA0001
