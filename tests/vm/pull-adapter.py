#!/usr/bin/env python3
"""Pulls a USB adapter out of the running test machine once the update through it is under way.

    pull-adapter.py QMP_SOCKET LINE_FILE BYTES DEVICE_ID MODULE_PID

Waits until LINE_FILE (the bytes QEMU passed from the adapter to its module's pty) holds at
least BYTES bytes, then asks QEMU over its QMP socket to remove the device DEVICE_ID, as a
technician pulls the plug. The module behind the adapter (MODULE_PID) is held still around the
pull: QEMU 7.2 dies of SIGSEGV (in usb_wakeup) when a reply reaches an adapter in the middle of
being removed, so the plug is pulled while the program in the guest waits for a reply, which
is where an update spends its time in any case. Prints what it did and when, and whether QEMU
reported the device gone. Ends with 1 when the line never reached BYTES or QEMU refused, so that the scenario's
verdict can tell a pull that did not happen from a program that did not notice it.
"""

import json
import os
import signal
import socket
import sys
import time

WAIT_FOR_BYTES_S = 170
ANSWER_TIMEOUT_S = 10
# Long enough for the guest's driver to take in a reply already on its way, far below the
# program's 5 s wait for one.
SETTLE_S = 0.5


def size_of(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def wait_for_bytes(path, wanted):
    deadline = time.monotonic() + WAIT_FOR_BYTES_S
    while time.monotonic() < deadline:
        if size_of(path) >= wanted:
            return True
        time.sleep(0.02)
    return False


class Monitor:
    """One QMP connection: commands out, answers and events in, one JSON object per line."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(ANSWER_TIMEOUT_S)
        self.socket.connect(path)
        self.pending = b""
        self.events = []
        self.receive()  # the greeting

    def receive(self):
        while b"\n" not in self.pending:
            chunk = self.socket.recv(4096)
            if not chunk:
                raise ConnectionError("QEMU closed its monitor")
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n", 1)
        return json.loads(line)

    def execute(self, command, arguments=None):
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        self.socket.sendall(json.dumps(message).encode() + b"\r\n")
        while True:
            answer = self.receive()
            if "event" in answer:
                self.events.append(answer)
                continue
            return answer

    def wait_for_event(self, name, seconds):
        deadline = time.monotonic() + seconds
        while not any(event.get("event") == name for event in self.events):
            if time.monotonic() > deadline:
                return False
            self.events.append(self.receive())
        return True


def pull_quietly(monitor, device, module_pid):
    """Removes DEVICE while its module is held still; returns QEMU's error or None, and whether
    QEMU reported the device gone."""
    os.kill(module_pid, signal.SIGSTOP)
    try:
        time.sleep(SETTLE_S)
        monitor.events.clear()
        answer = monitor.execute("device_del", {"id": device})
        if "error" in answer:
            return answer["error"], False
        try:
            return None, monitor.wait_for_event("DEVICE_DELETED", ANSWER_TIMEOUT_S)
        except (OSError, ValueError):
            return None, False
    finally:
        os.kill(module_pid, signal.SIGCONT)


def connect(path):
    """The monitor, once QEMU has made its socket (it starts beside this helper)."""
    deadline = time.monotonic() + ANSWER_TIMEOUT_S
    while True:
        try:
            monitor = Monitor(path)
            monitor.execute("qmp_capabilities")
            return monitor
        except (OSError, ValueError) as error:
            if time.monotonic() > deadline:
                print(f"pull: no QMP monitor at {path}: {error}")
                return None
            time.sleep(0.1)


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    qmp_path, line_file, device = sys.argv[1], sys.argv[2], sys.argv[4]
    wanted, module_pid = int(sys.argv[3]), int(sys.argv[5])
    monitor = connect(qmp_path)
    if monitor is None:
        return 1
    if not wait_for_bytes(line_file, wanted):
        print(f"pull: the adapter's line never reached {wanted} bytes "
              f"({size_of(line_file)} in {WAIT_FOR_BYTES_S} s): not pulled")
        return 1
    seen = size_of(line_file)
    error, gone = pull_quietly(monitor, device, module_pid)
    if error is not None:
        print(f"pull: QEMU refused device_del {device}: {error}")
        return 1
    print(f"pull: device_del {device} after {seen} bytes on its line")
    print(f"pull: {'QEMU reported the device deleted' if gone else 'no DEVICE_DELETED event'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
