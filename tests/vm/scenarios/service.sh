# Service operations on the same line: information, status and a download of a small file.
cd /data
run_program tarnix-service tarnix-service /dev/ttyS0 info status download small.ttf
