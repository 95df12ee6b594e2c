#!/usr/bin/env python3
"""Watches the line settings of the module's pseudo-terminal while the test machine runs.

    watch-line.py PTY CONSOLE_LOG QEMU_PID OUT

QEMU puts the settings that the guest programs into its UART on the pty with tcsetattr, so
tcgetattr here shows what the program asked of the serial driver. Every distinct setting is
written to OUT as "before 9600 8N1" or "after 115200 8N2": "after" once the guest has announced
its program on the console (the "TARNIX-VM uart-before" line, printed just before the program
starts). Each sample is taken before the console is read, so a sample marked "before" was taken
before the program ran. Ends when QEMU has ended.
"""

import os
import sys
import termios
import time

MARKER = b"TARNIX-VM uart-before"

SPEEDS = {
    getattr(termios, name): name[1:]
    for name in dir(termios)
    if name.startswith("B") and name[1:].isdigit()
}
SIZES = {termios.CS5: "5", termios.CS6: "6", termios.CS7: "7", termios.CS8: "8"}


def describe(attributes):
    cflag = attributes[2]
    speed = SPEEDS.get(attributes[5], "?")
    parity = "N"
    if cflag & termios.PARENB:
        parity = "O" if cflag & termios.PARODD else "E"
    stop = "2" if cflag & termios.CSTOPB else "1"
    return f"{speed} {SIZES.get(cflag & termios.CSIZE, '?')}{parity}{stop}"


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat", "rb") as stat:
            return stat.read().rsplit(b")", 1)[1].split()[0] not in (b"Z", b"X")
    except OSError:
        return False


def main():
    pty, console, qemu_pid, out_path = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    # Held open until QEMU ends: an extra open and close of the slave could look to the
    # emulator like the program's hang-up.
    fd = os.open(pty, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    phase, last = "before", None
    with open(out_path, "w", buffering=1) as out:
        while alive(qemu_pid):
            try:
                setting = describe(termios.tcgetattr(fd))
            except termios.error:
                break
            if phase == "before":
                try:
                    with open(console, "rb") as log:
                        if MARKER in log.read():
                            phase = "after"
                except OSError:
                    pass
            if (phase, setting) != last:
                out.write(f"{phase} {setting}\n")
                last = (phase, setting)
            time.sleep(0.02)
    os.close(fd)


if __name__ == "__main__":
    main()
