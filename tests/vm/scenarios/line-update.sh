# Line-mode update: every line of the text file forwarded as it stands.
cd /data
run_program tarnix tarnix 0x89 display-params.txt 1 1
