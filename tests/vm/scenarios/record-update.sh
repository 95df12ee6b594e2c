# Record-mode update of the example file through COM1, which is /dev/ttyS0.
cd /data
run_program tarnix tarnix 0x89 display-config.upd 0 1
