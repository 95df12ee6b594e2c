# tarnix-ports --json with the 16550 UART as ttyS0 and one USB adapter (serial TNXA0001).
load_usb_modules
wait_for_usb_ports 1
run_program tarnix-ports tarnix-ports --json
