# Record-mode update of the example file through the USB adapter, named by its device name
# ttyUSB0 (QEMU's usb-serial, bound by the guest kernel's ftdi_sio).
load_usb_modules
wait_for_usb_ports 1
cd /data
run_program tarnix tarnix 0x89 display-config.upd 0 ttyUSB0
