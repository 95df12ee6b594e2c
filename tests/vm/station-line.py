#!/usr/bin/env python3
"""Plays the line station's scenario in the test machine: plugs QEMU's USB serial adapters in and
pulls them out while tarnix-station watches /dev/serial/by-id/* in the guest.

    station-line.py QMP_SOCKET RUN_DIR SERIAL_A SERIAL_B

RUN_DIR is the boot's folder: console.log (the guest's console), usb-SERIAL.bin (the bytes that
reached each adapter's module) and share/ (the guest's /share, with the station's journal).
The adapters' back ends exist from the start (chardev usb-SERIAL); the devices are added here
with the ids adapter-SERIAL; usb-SERIAL.pid names each adapter's emulator, held still while its
adapter is pulled out (see pull-adapter.py). The steps, each waiting for what the last one should bring:
  1. A plugged in once the station runs; its unit is recorded;
  2. A left in for a while (no unit may follow), then B plugged in and pulled out once 20000
     bytes have reached its module; its unit is recorded;
  3. A pulled out and plugged in again: a new unit, recorded;
  4. share/stop created, which ends the station in the guest.
Prints each step with the time since start, and "FAILED:" with the first step that did not
happen (the station is asked to stop all the same); ends with 1 then.
"""

import importlib.util
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
LOADER_SOURCE = importlib.util.spec_from_file_location("pull_adapter", os.path.join(HERE, "pull-adapter.py"))
PULL = importlib.util.module_from_spec(LOADER_SOURCE)
LOADER_SOURCE.loader.exec_module(PULL)

STEP_LIMIT_S = 150
LEFT_IN_S = 6  # a dozen of the station's looks at its slot
PULL_AFTER_BYTES = 20000
STARTED = time.monotonic()


def say(text):
    print(f"{time.monotonic() - STARTED:7.2f} s  {text}", flush=True)


def wait_until(condition, what):
    deadline = time.monotonic() + STEP_LIMIT_S
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    say(f"FAILED: {what} within {STEP_LIMIT_S} s")
    return False


def journal_records(run_dir):
    """The journal's whole lines (a line still being written is not one)."""
    try:
        with open(os.path.join(run_dir, "share", "journal.jsonl"), encoding="utf-8") as file:
            text = file.read()
    except OSError:
        return []
    return text.split("\n")[:-1]


def console_says(run_dir, text):
    try:
        with open(os.path.join(run_dir, "console.log"), "rb") as file:
            return text.encode() in file.read()
    except OSError:
        return False


def module_pid(run_dir, serial):
    """The emulator behind the adapter, as the boot wrote it down."""
    with open(os.path.join(run_dir, f"usb-{serial}.pid"), encoding="utf-8") as file:
        return int(file.read())


def plug(monitor, serial):
    answer = monitor.execute("device_add", {"driver": "usb-serial", "bus": "xhci.0",
                                            "chardev": f"usb-{serial}", "serial": serial,
                                            "id": f"adapter-{serial}"})
    if "error" in answer:
        say(f"FAILED: QEMU refused device_add {serial}: {answer['error']}")
        return False
    say(f"plugged {serial}")
    return True


def pull(monitor, run_dir, serial):
    error, gone = PULL.pull_quietly(monitor, f"adapter-{serial}", module_pid(run_dir, serial))
    if error is not None:
        say(f"FAILED: QEMU refused device_del {serial}: {error}")
        return False
    say(f"pulled {serial}" + ("" if gone else " (no DEVICE_DELETED event)"))
    return gone


def record_of(run_dir, count):
    """Waits for the journal's COUNT-th record and shows it."""
    if not wait_until(lambda: len(journal_records(run_dir)) >= count,
                      f"the journal's record {count}"):
        return False
    try:
        record = json.loads(journal_records(run_dir)[count - 1])
        say(f"recorded unit {record.get('unit')}: {record.get('adapter_serial')} "
            f"{record.get('outcome')}")
    except ValueError:
        say(f"recorded: {journal_records(run_dir)[count - 1]}")
    return True


def play(monitor, run_dir, a, b):
    if not wait_until(lambda: console_says(run_dir, "TARNIX-VM station-started"),
                      "the station's start in the guest"):
        return False
    if not (plug(monitor, a) and record_of(run_dir, 1)):
        return False
    time.sleep(LEFT_IN_S)
    if not plug(monitor, b):
        return False
    b_line = os.path.join(run_dir, f"usb-{b}.bin")
    if not PULL.wait_for_bytes(b_line, PULL_AFTER_BYTES):
        say(f"FAILED: {b}'s line never reached {PULL_AFTER_BYTES} bytes")
        return False
    say(f"{b}'s line at {PULL.size_of(b_line)} bytes")
    if not (pull(monitor, run_dir, b) and record_of(run_dir, 2) and pull(monitor, run_dir, a)):
        return False
    time.sleep(2)  # the station sees the slot empty before A comes back
    return plug(monitor, a) and record_of(run_dir, 3)


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    qmp_path, run_dir, a, b = sys.argv[1:]
    monitor = PULL.connect(qmp_path)
    played = monitor is not None and play(monitor, run_dir, a, b)
    # The station ends in any case: the verdict judges what was recorded.
    with open(os.path.join(run_dir, "share", "stop"), "w", encoding="utf-8"):
        pass
    say("stop asked" if played else "FAILED: not every step happened; stop asked")
    return 0 if played else 1


if __name__ == "__main__":
    sys.exit(main())
