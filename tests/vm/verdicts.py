#!/usr/bin/env python3
"""Reads what one boot of the serial test machine left behind and decides whether it passed.

    verdicts.py SCENARIO RUN_DIR [--qemu-status N] [--module-status N]

RUN_DIR is the folder that scripts/test-serial-vm filled for the boot: console.log (the guest's
console, with its "TARNIX-VM " lines), module.out and module.err (the emulator), line.bin (every
byte QEMU passed to the module's pty), line-settings.log (watch-line.py), modem-lines.log (the
modem-line library) and qemu-trace.log (QEMU's trace of the UART's settings). The statuses are
those of QEMU (124: time limit) and of the emulator.

Prints what was seen, a "FAIL:" line for each check that did not hold, then "ok" or the files
to look at. Exits 0 when every check held, 1 otherwise (2 for a wrong command line).
"""

import argparse
import json
import os
import re
import sys

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LINE_SETTING = "115200 8N2"

# The update commands on the module's line: STX, command, ModNr, ..., ETX.
STX, ETX = 0x02, 0x03
COMMANDS = {ord("B"): "Start", ord("C"): "Data", ord("D"): "Program", ord("E"): "End",
            ord("F"): "Finish"}


# --- Reading the files ---------------------------------------------------------------------

def read_lines(path):
    """The file's lines without their line feeds (a carriage return stays); none if absent."""
    try:
        with open(path, "rb") as file:
            text = file.read().decode("latin-1")
    except OSError:
        return []
    lines = text.split("\n")
    if lines[-1] == "":
        lines.pop()
    return lines


def last(values):
    return values[-1] if values else None


def first(values):
    return values[0] if values else None


def word_after(text, label):
    """The word that follows the first LABEL in TEXT (the whole text's first word without it)."""
    text = text or ""
    if label in text:
        text = text.split(label, 1)[1]
    return text.split(" ", 1)[0]


def shown(value):
    return "?" if value in (None, "") else value


def guest_value(console, key):
    """The last value the guest printed as "TARNIX-VM KEY VALUE"."""
    prefix = f"TARNIX-VM {key} "
    return last([line[len(prefix):].replace("\r", "") for line in console
                 if line.startswith(prefix)])


def guest_stdout(console):
    """The lines from each "TARNIX-VM stdout-begin" to its "TARNIX-VM stdout-end"."""
    inside, kept = False, []
    for line in (line.replace("\r", "") for line in console):
        if inside:
            kept.append(line)
            inside = not line.startswith("TARNIX-VM stdout-end")
        elif line.startswith("TARNIX-VM stdout-begin"):
            kept.append(line)
            inside = True
    return kept


def pty_setting(settings, which):
    """The module pty's last setting as watch-line.py saw it: "before" the program or "last"."""
    if which == "before":
        return last([line[len("before "):] for line in settings if line.startswith("before ")])
    return last([re.sub(r"^[a-z]* ", "", line, count=1) for line in settings
                 if re.match(r"[a-z]* ", line)])


UART_TRACE = re.compile(r".*serial_update_parameters baudrate=([0-9]*) parity='(.)' "
                        r"data=([0-9]) stop=([0-9])")


def uart_setting(trace):
    """The setting QEMU's UART model last took from the guest, as "115200 8N2"."""
    found = [UART_TRACE.match(line) for line in trace]
    return last([f"{m[1]} {m[3]}{m[2]}{m[4]}" for m in found if m])


def fold_repeats(lines):
    return [line for index, line in enumerate(lines) if index == 0 or line != lines[index - 1]]


def modem_lines_low(states):
    """Low from open to close: at most one stretch with a line raised (the driver's open, before
    the program lowers them), and both low at the end."""
    if not states:
        return False
    stretches, was_high = 0, False
    for state in states:
        fields = state.split()
        high = fields[:2] != ["DTR=0", "RTS=0"]
        if high and not was_high:
            stretches += 1
        was_high = high
    return stretches <= 1 and not was_high


def frames_count(module, name=None):
    """From the emulator's "frames: N (Start a, Data b, ...)": N, or the count of one command."""
    pattern = r"frames: ([0-9]*)" if name is None else rf"frames: .*{name} ([0-9]*)"
    return first([m[1] for m in (re.match(pattern, line) for line in module) if m])


def count_frames(data):
    """The update commands in the bytes on the line, by name; or the offset of the first byte
    that belongs to no STX command ... ETX frame."""
    counts = {name: 0 for name in COMMANDS.values()}
    position = 0
    while position < len(data):
        end = data.find(bytes([ETX]), position + 3)
        if data[position] != STX or end < 0 or data[position + 1] not in COMMANDS:
            return None, position
        counts[COMMANDS[data[position + 1]]] += 1
        position = end + 1
    return counts, None


def count_lines(path):
    """Lines as grep -c '' counts them: a last line without its line feed counts too."""
    with open(path, "rb") as file:
        data = file.read()
    return data.count(b"\n") + (1 if data and not data.endswith(b"\n") else 0)


# --- One boot --------------------------------------------------------------------------------

class Run:
    def __init__(self, folder, qemu_status, module_status):
        self.folder = folder
        self.qemu_status = qemu_status
        self.module_status = module_status
        self.console = read_lines(self.path("console.log"))
        self.module = read_lines(self.path("module.out"))
        self.failures = []

    def path(self, name):
        return os.path.join(self.folder, name)

    def fail(self, message):
        print(f"   FAIL: {message}")
        self.failures.append(message)

    def guest(self, key):
        return guest_value(self.console, key)


# --- The checks ------------------------------------------------------------------------------

def check_powered_off(run):
    if run.qemu_status != 0:
        run.fail(f"the machine did not power off normally (status {run.qemu_status}; "
                 f"124: time limit); console: {run.path('console.log')}")


def check_common(run, title, expected_exit):
    """What every scenario shares: the guest's run, the verdict, the line."""
    print(f"-- {title}")
    check_powered_off(run)
    status, elapsed, uart = run.guest("exit"), run.guest("elapsed"), run.guest("uart")
    print(f"   program: exit {shown(status)} after {shown(elapsed)} s in the guest")
    if status != str(expected_exit):
        run.fail(f"exit status {status or 'none'}, expected {expected_exit}")

    verdict = re.compile(r"(frames|protocol errors|image|download|timestamp|verdict)")
    print("   module:  " + ";".join(line for line in run.module if verdict.match(line))
          .replace(";", "; "))

    settings = read_lines(run.path("line-settings.log"))
    before, after = pty_setting(settings, "before"), pty_setting(settings, "last")
    uart_last = uart_setting(read_lines(run.path("qemu-trace.log")))
    print(f"   line:    module's pty {shown(before)} before the program, {shown(after)} after it; "
          f"UART model's last setting {shown(uart_last)}")
    if after != LINE_SETTING:
        run.fail(f"the module's pty did not end at {LINE_SETTING} (tcgetattr): "
                 f"it ended at {shown(after)}")
    if uart_last != LINE_SETTING:
        run.fail(f"QEMU's UART did not end at {LINE_SETTING} (trace): "
                 f"its last setting was {shown(uart_last)}")

    states = read_lines(run.path("modem-lines.log"))
    seen = " -> ".join(fold_repeats(states))
    print(f"   DTR/RTS: {seen} (the module's pty, set by QEMU from the UART)")
    if not modem_lines_low(states):
        run.fail(f"DTR and RTS were not low from the program's open to its close: "
                 f"{seen or 'no states logged'}")

    print(f"   uart:    {uart or 'no ttyS0 line'}")
    if "uart:16550A" not in (uart or ""):
        run.fail(f"ttyS0 is not the 16550A UART: {uart or 'no ttyS0 line'}")
    try:
        sent = str(os.path.getsize(run.path("line.bin")))
    except OSError:
        sent = "0"
    tx = word_after(uart, "tx:")
    print(f"   bytes:   guest tx {tx}; QEMU passed {sent} to the module's pty")
    if tx != sent:
        run.fail(f"the guest's tx count ({shown(tx)}) differs from the bytes on the module's line "
                 f"({sent})")


def check_image_whole(run):
    if not any("image arrived whole" in line for line in run.module):
        run.fail("the module did not report \"image arrived whole\"")


def check_module_status(run):
    if run.module_status != 0:
        run.fail(f"the emulator's exit status is {run.module_status}")


def check_download(run):
    if not any(re.match(r"download: 1000 of 1000 bytes.*closed", line) for line in run.module):
        seen = first([line for line in run.module if line.startswith("download")])
        run.fail(f"the module did not receive the whole download: {seen or 'no download line'}")


def check_timestamp(run):
    if not any(line.startswith('timestamp: "small.ttf"') for line in run.module):
        seen = first([line for line in run.module if line.startswith("timestamp")])
        run.fail(f"no timestamp for small.ttf: {seen or 'no timestamp line'}")


def check_stdout(run, text):
    if not any(text in line for line in guest_stdout(run.console)):
        run.fail(f"the program's output lacks \"{text}\"")


def check_elapsed(run, seconds):
    elapsed = run.guest("elapsed")
    try:
        long_enough = float(elapsed or "0") >= seconds
    except ValueError:
        long_enough = False
    if not long_enough:
        run.fail(f"the run took {shown(elapsed)} s, less than the {seconds:g}-second time-out")


def check_replies(run, unanswered=0):
    """Every command but Finish gets one reply byte, which is what the guest's UART received;
    UNANSWERED commands got none."""
    rx = word_after(run.guest("uart"), "rx:")
    frames, finish = frames_count(run.module), frames_count(run.module, "Finish")
    expected = str(int(frames) - int(finish) - unanswered) if frames and finish else None
    if expected is None or rx != expected:
        run.fail(f"the guest received {shown(rx)} bytes, the module answered {shown(frames)} "
                 f"frames (Finish {shown(finish)}); expected {shown(expected)} reply bytes")


def check_frames_on_line(run):
    """The bytes QEMU passed to the module's line, cut into frames here, are the frames the
    module counted: nothing was lost or added between the guest's UART and the module."""
    try:
        with open(run.path("line.bin"), "rb") as file:
            counts, offset = count_frames(file.read())
    except OSError as error:
        run.fail(f"the module's line could not be read ({error.strerror}: {error.filename})")
        return
    compare_frames(run, counts, offset, "the module's line")


def compare_frames(run, counts, offset, line):
    """The frames cut from the bytes on LINE against the module's own count of each command."""
    if counts is None:
        run.fail(f"{line} carried bytes outside the update frames (unframed {offset})")
        return
    each = " ".join(f"{name} {count}" for name, count in counts.items())
    print(f"   frames:  {sum(counts.values())} {each} on {line}")
    for name, count in counts.items():
        counted = frames_count(run.module, name)
        if str(count) != counted:
            run.fail(f"{name} frames on {line} and in the module's count differ "
                     f"({count} on the line, {shown(counted)} counted)")


def check_data_frames(run, expected, what=None):
    data = frames_count(run.module, "Data")
    if data != str(expected):
        run.fail(f"{data or ''} Data frames for {what}" if what else
                 f"{data or ''} Data frames, expected {expected}")


# --- The scenarios, with the emulator's options that scripts/test-serial-vm gives each -------

def record_update(run):  # --expect display-config.upd
    check_common(run, "tarnix, record mode: 0x89 display-config.upd 0 1 (COM1 = /dev/ttyS0)", 0)
    check_image_whole(run)
    check_module_status(run)
    check_replies(run)
    check_frames_on_line(run)


def line_update(run):  # --no-record-check
    check_common(run, "tarnix, line mode: 0x89 display-params.txt 1 1", 0)
    check_module_status(run)
    check_replies(run)
    check_frames_on_line(run)
    lines = count_lines(os.path.join(TOP, "examples", "display-params.txt"))
    check_data_frames(run, lines, f"{lines} lines")


def silent_module(run):  # --silent data:100
    check_common(run, "tarnix, module silent after the 100th Data command "
                      "(time-out on a real tty)", 1)
    check_stdout(run, "TIMEOUT !!!")
    check_stdout(run, "Return Value Daten: 0x00")
    check_elapsed(run, 5.0)
    check_replies(run, unanswered=1)
    check_frames_on_line(run)
    check_data_frames(run, 100)


def rejection(run):  # --reject data:50:15
    check_common(run, "tarnix, module rejects the 50th Data command with 0x15", 1)
    check_stdout(run, "Return Value Daten: 0x15")
    check_replies(run)
    check_frames_on_line(run)
    check_data_frames(run, 50)


def service(run):  # --status 0x123456
    check_common(run, "tarnix-service /dev/ttyS0 info status download small.ttf", 0)
    check_module_status(run)
    check_download(run)
    check_timestamp(run)
    check_stdout(run, "1193046")


def wine_update(run):  # --expect display-config.upd
    check_common(run, "tarnix.exe 0x89 display-config.upd 0 1 under Wine (record mode)", 0)
    check_image_whole(run)
    check_module_status(run)
    check_replies(run)
    check_frames_on_line(run)


def wine_download(run):  # --status 0x123456
    check_common(run, "tarnix-service.exe 1 info status download small.ttf under Wine", 0)
    check_module_status(run)
    check_download(run)
    check_stdout(run, "1193046")


# --- The USB scenarios: QEMU's usb-serial (FTDI FT232BM) behind an emulator of its own -------

def usb_ports_seen(run):
    """The guest's "usb-port DEVICE serial SERIAL latency_timer N node present" lines."""
    prefix = "TARNIX-VM usb-port "
    return [line[len(prefix):].replace("\r", "") for line in run.console
            if line.startswith(prefix)]


def check_usb_common(run, title, serial, device=None):
    """What the USB update scenarios share: the guest's run, the verdict of the module behind
    the adapter SERIAL, the line settings QEMU put on its pty, the bytes on its line."""
    print(f"-- {title}")
    check_powered_off(run)
    for port in usb_ports_seen(run)[:4]:
        print(f"   adapter: {port} (guest's sysfs)")
    usbserial = [line.replace("\r", "") for line in run.console
                 if line.startswith("TARNIX-VM usbserial ")]
    for line in usbserial[:4]:
        print(f"   driver:  {line[len('TARNIX-VM usbserial '):]}")
    if not any("module:ftdi_sio" in line and "vendor:0403 product:6001" in line
               for line in usbserial):
        run.fail("the guest's USB serial driver lists no ftdi_sio port 0403:6001")
    if device and not any(port.startswith(f"{device} serial {serial} ") for port in
                          usb_ports_seen(run)):
        run.fail(f"the guest has no {device} with the serial number {serial}")

    status, elapsed = run.guest("exit"), run.guest("elapsed")
    print(f"   program: exit {shown(status)} after {shown(elapsed)} s in the guest")
    if status != "0":
        run.fail(f"exit status {status or 'none'}, expected 0")
        for line in guest_stdout(run.console)[-6:]:
            print(f"            {line}")

    tag = f"usb-{serial}"
    run.module = read_lines(run.path(f"{tag}.out"))
    verdict = re.compile(r"(frames|protocol errors|image|verdict)")
    print(f"   module:  ({serial}) " + "; ".join(line for line in run.module if verdict.match(line)))
    check_image_whole(run)
    module_status = first(read_lines(run.path(f"{tag}.status")))
    if module_status != "0":
        run.fail(f"the emulator behind {serial} ended with status {shown(module_status)}")

    settings = read_lines(run.path(f"{tag}-settings.log"))
    before, after = pty_setting(settings, "before"), pty_setting(settings, "last")
    print(f"   line:    the module's pty {shown(before)} before the program, {shown(after)} "
          f"after it (set by QEMU from the adapter's FTDI requests)")
    if after != LINE_SETTING:
        run.fail(f"the module's pty behind {serial} did not end at {LINE_SETTING}: "
                 f"it ended at {shown(after)}")

    try:
        with open(run.path(f"{tag}.bin"), "rb") as file:
            data = file.read()
    except OSError:
        data = b""
    counts, offset = count_frames(data)
    print(f"   bytes:   QEMU passed {len(data)} bytes from the adapter to the module's pty")
    compare_frames(run, counts, offset, "the adapter's line")


def usb_update(run):  # TNXA0001: --expect display-config.upd
    check_usb_common(run, "tarnix, record mode: 0x89 display-config.upd 0 ttyUSB0 (USB adapter "
                          "TNXA0001, ftdi_sio)", "TNXA0001", "ttyUSB0")


def usb_serial_update(run):  # TNXA0001: --expect display-config.upd
    check_usb_common(run, "tarnix, record mode: 0x89 display-config.upd 0 usb:TNXA0001",
                     "TNXA0001")


def usb_two_adapters(run):  # TNXA0001: nothing; TNXA0002: --expect display-config.upd
    check_usb_common(run, "tarnix, record mode: 0x89 display-config.upd 0 usb:TNXA0002 with "
                          "two adapters; latency_timer while tarnix holds the port",
                     "TNXA0002")
    if len(usb_ports_seen(run)) < 4:  # two before the run, two after it
        run.fail(f"the guest did not show two USB adapters: {usb_ports_seen(run)}")
    seen = {}
    for serial in ("TNXA0001", "TNXA0002"):
        values = (guest_value([line for line in run.console
                               if f"latency-seen {serial} " in line], f"latency-seen {serial}")
                  or "").split()
        seen[serial] = values
        print(f"   latency: {serial} latency_timer {' -> '.join(values) or '?'} (sampled every "
              f"0.1 s in the guest)")
    if "1" not in seen["TNXA0002"]:
        run.fail("the adapter in use (TNXA0002) never showed latency_timer 1 while tarnix held it")
    if "1" in seen["TNXA0001"]:
        run.fail("the adapter not in use (TNXA0001) showed latency_timer 1")
    if not seen["TNXA0001"]:
        run.fail("no latency_timer samples of TNXA0001")


def usb_ports(run):  # TNXA0001 with nothing behind it
    print("-- tarnix-ports --json: the 16550 UART and the USB adapter TNXA0001")
    check_powered_off(run)
    status = run.guest("exit")
    print(f"   program: exit {shown(status)}")
    if status != "0":
        run.fail(f"exit status {status or 'none'}, expected 0")
    text = "\n".join(line for line in guest_stdout(run.console)
                     if not line.startswith("TARNIX-VM "))
    try:
        ports = json.loads(text)["ports"]
    except (ValueError, KeyError, TypeError) as error:
        run.fail(f"the output is not the ports' JSON ({error}): {text[:200]!r}")
        return
    for port in ports:
        print(f"   port:    {port.get('device')} vid {shown(port.get('vid'))} pid "
              f"{shown(port.get('pid'))} serial {shown(port.get('serial_number'))} driver "
              f"{shown(port.get('driver'))} latency {shown(port.get('latency_timer_ms'))} "
              f"usb_port {shown(port.get('usb_port'))}")
    usb = [port for port in ports if str(port.get("device", "")).endswith("ttyUSB0")]
    if not usb:
        run.fail("no ttyUSB0 in the list")
    else:
        port = usb[0]
        wanted = {"vid": "0403", "pid": "6001", "serial_number": "TNXA0001"}
        for key, value in wanted.items():
            if str(port.get(key) or "").lower() != value.lower():
                run.fail(f"ttyUSB0's {key} is {shown(port.get(key))}, expected {value}")
    if not any(str(port.get("device", "")).endswith("ttyS0") for port in ports):
        run.fail("no ttyS0 (the 16550 UART) in the list")


def wine_usb_update(run):  # TNXA0001: --expect display-config.upd; COM11 = /dev/ttyUSB0
    check_usb_common(run, "tarnix.exe 0x89 display-config.upd 0 COM11 under Wine, COM11 = "
                          "/dev/ttyUSB0 (USB adapter TNXA0001, ftdi_sio)", "TNXA0001", "ttyUSB0")


# --- An adapter pulled out in mid-update --------------------------------------------------------

HANG_UP = "the port's device was disconnected or hung up"


def guest_block(console, name):
    """The raw lines between "TARNIX-VM NAME-begin" and "TARNIX-VM NAME-end", cut at carriage
    returns too (the progress line rewrites itself with them)."""
    inside, kept = False, []
    for line in console:
        if line.startswith(f"TARNIX-VM {name}-"):
            inside = line.startswith(f"TARNIX-VM {name}-begin")
            continue
        if inside:
            kept.extend(part for part in line.split("\r") if part.strip())
    return kept


def longest_repeat(lines):
    """The longest run of one line said again and again, the progress line aside: (count, line)."""
    best, count, previous = (0, ""), 0, None
    for line in lines:
        if line.startswith("Writing User configuration"):
            continue
        count = count + 1 if line == previous else 1
        previous = line
        best = max(best, (count, line))
    return best


def check_pull(run):
    """The host's side: QEMU removed the adapter once the update was under way."""
    pulled = read_lines(run.path("pull.log"))
    for line in pulled:
        print(f"   host:    {line}")
    if not any(line.startswith("pull: device_del ") for line in pulled):
        run.fail("the adapter was not pulled out (pull.log)")


def check_partial_module(run, serial):
    lines = read_lines(run.path(f"usb-{serial}.out"))
    frames = frames_count(lines, None)
    print(f"   module:  ({serial}) {frames} frames; "
          + "; ".join(line for line in lines if line.startswith(("image", "verdict"))))
    if any("image arrived whole" in line for line in lines):
        run.fail(f"the module behind {serial} got the whole image: the pull came too late")
    if frames in (None, "", "0"):
        run.fail(f"the module behind {serial} got no frame: the pull came too early")


def usb_unplug(run):  # TNXA0001: --expect display-config.upd, pulled after 20000 bytes
    print("-- tarnix, record mode: 0x89 display-config.upd 0 ttyUSB0, the adapter pulled out "
          "in mid-update")
    check_powered_off(run)
    check_pull(run)
    status, unplugged, ended = run.guest("exit"), run.guest("unplugged-at"), run.guest("ended-at")
    print(f"   program: exit {shown(status)}; ttyUSB0 gone at {shown(unplugged)} s, tarnix ended "
          f"at {shown(ended)} s (guest's uptime)")
    if status != "1":
        run.fail(f"exit status {status or 'none'}, expected 1")
    try:
        if float(ended) - float(unplugged) > 1.0:
            run.fail(f"tarnix ended {float(ended) - float(unplugged):.2f} s after the adapter "
                     f"went, not within a second")
    except (TypeError, ValueError):
        run.fail("the guest did not report both the unplugging and the program's end")
    stderr = guest_block(run.console, "stderr")
    for line in stderr[-3:]:
        print(f"   stderr:  {line}")
    if not any(HANG_UP in line for line in stderr):
        run.fail(f"standard error does not say \"{HANG_UP}\"")
    count, line = longest_repeat(guest_block(run.console, "stdout") + stderr)
    if count > 2:
        run.fail(f"a line said {count} times over: {line!r}")
    check_partial_module(run, "TNXA0001")


def usb_unplug_fleet(run):  # ttyS0, TNXA0001 (pulled), TNXA0002: --expect display-config.upd
    print("-- tarnix-fleet: display-config.upd into ttyS0, usb:TNXA0001 and usb:TNXA0002 at "
          "once; TNXA0001 pulled out in mid-update")
    check_powered_off(run)
    check_pull(run)
    status = run.guest("exit")
    print(f"   fleet:   exit {shown(status)} after {shown(run.guest('elapsed'))} s in the guest")
    if status != "1":
        run.fail(f"exit status {status or 'none'}, expected 1 (one port failed)")
    text = "\n".join(line.replace("\r", "") for line in guest_block(run.console, "report"))
    try:
        ports = {port["port"]: port for port in json.loads(text)["ports"]}
    except (ValueError, KeyError, TypeError) as error:
        run.fail(f"no fleet report ({error}): {text[:200]!r}")
        return
    wanted = {"ttyS0": "completed", "usb:TNXA0001": "failed", "usb:TNXA0002": "completed"}
    for name, outcome in wanted.items():
        port = ports.get(name, {})
        print(f"   report:  {name} {shown(port.get('outcome'))}, exit "
              f"{shown(port.get('exit_status'))}, reason {shown(port.get('reason'))}")
        if port.get("outcome") != outcome:
            run.fail(f"{name} is reported {shown(port.get('outcome'))}, expected {outcome}")
    if HANG_UP not in str(ports.get("usb:TNXA0001", {}).get("reason")):
        run.fail(f"the pulled adapter's reason does not say \"{HANG_UP}\"")
    for serial in ("TNXA0001", "TNXA0002"):
        port = ports.get(f"usb:{serial}", {})
        identity = (port.get("device"), port.get("adapter_vid_pid"), port.get("adapter_serial"))
        print(f"   adapter: usb:{serial} recorded as {' '.join(map(shown, identity))}")
        if not str(identity[0]).startswith("/dev/ttyUSB") or identity[1:] != ("0403:6001",
                                                                              serial):
            run.fail(f"the report does not name usb:{serial}'s device and adapter: {identity}")
    check_partial_module(run, "TNXA0001")
    for tag in ("module", "usb-TNXA0002"):
        lines = read_lines(run.path(f"{tag}.out"))
        print(f"   module:  ({tag}) " + "; ".join(line for line in lines
                                                  if line.startswith(("image", "verdict"))))
        if not any("image arrived whole" in line for line in lines):
            run.fail(f"the module {tag} did not get the whole image beside the pulled adapter")


# --- The line station: adapters plugged in and pulled out while it watches by-id links ------

STATION_SLOT = "/dev/serial/by-id/*"
# The station's units as tests/vm/station-line.py brings them: A updated and left in, B pulled
# out in mid-update, A pulled out and plugged in again.
STATION_UNITS = [("TNXA0001", "completed"), ("TNXA0002", "failed"), ("TNXA0001", "completed")]


def journal(run):
    """The journal's records; a line that is not a JSON object fails and is left out."""
    records = []
    for number, line in enumerate(read_lines(run.path("share/journal.jsonl")), 1):
        try:
            records.append(json.loads(line))
        except ValueError as error:
            run.fail(f"journal line {number} is not JSON ({error}): {line[:120]!r}")
    return records


def check_station_record(run, record, number, serial, outcome):
    port, device = str(record.get("port")), str(record.get("device"))
    print(f"   unit {shown(record.get('unit'))}: {shown(record.get('adapter_serial'))} "
          f"{shown(record.get('outcome'))}, exit {shown(record.get('exit_status'))}, {port} -> "
          f"{device}, {shown(record.get('adapter_vid_pid'))}, reason "
          f"{json.dumps(record.get('reason'))}")
    wanted = {"unit": number, "slot": STATION_SLOT, "outcome": outcome,
              "adapter_serial": serial, "adapter_vid_pid": "0403:6001"}
    for key, value in wanted.items():
        if record.get(key) != value:
            run.fail(f"unit {number}: {key} is {shown(record.get(key))}, expected {value}")
    if not (port.startswith("/dev/serial/by-id/usb-") and port.endswith(f"_{serial}-if00-port0")):
        run.fail(f"unit {number}: the port {port} is not {serial}'s by-id link")
    if not device.startswith("/dev/ttyUSB"):
        run.fail(f"unit {number}: the device {device} is not a ttyUSB")
    completed = outcome == "completed"
    if completed != (record.get("exit_status") == 0 and record.get("reason") is None):
        run.fail(f"unit {number}: exit status {shown(record.get('exit_status'))} and reason "
                 f"{shown(record.get('reason'))} do not fit {outcome}")
    if not completed and HANG_UP not in str(record.get("reason")):
        run.fail(f"unit {number}: the reason does not say \"{HANG_UP}\"")


def check_station_module(run, serial, units):
    """The emulator behind SERIAL got one Start per unit; the whole image when every unit of it
    completed, with every frame on its line counted."""
    run.module = read_lines(run.path(f"usb-{serial}.out"))
    starts = frames_count(run.module, "Start")
    if starts != str(units):
        run.fail(f"the module behind {serial} got {shown(starts)} Start frames for {units} units")
    if serial == "TNXA0002":
        check_partial_module(run, serial)
        return
    verdict = [line for line in run.module if line.startswith(("frames", "image", "verdict"))]
    print(f"   module:  ({serial}) " + "; ".join(verdict))
    check_image_whole(run)
    status = first(read_lines(run.path(f"usb-{serial}.status")))
    if status != "0":
        run.fail(f"the emulator behind {serial} ended with status {shown(status)}")
    with open(run.path(f"usb-{serial}.bin"), "rb") as file:
        counts, offset = count_frames(file.read())
    compare_frames(run, counts, offset, f"{serial}'s line")


def usb_station(run):  # TNXA0001, TNXA0002: --expect display-config.upd; none plugged at boot
    print(f"-- tarnix-station display-config.upd '{STATION_SLOT}' (mdev's links); adapters "
          f"plugged in and pulled out over QEMU's monitor")
    check_powered_off(run)
    steps = read_lines(run.path("station-line.log"))
    for line in steps:
        print(f"   host:  {line}")
    if not steps or any("FAILED" in line for line in steps):
        run.fail("the host's steps did not all happen (station-line.log)")
    status, links = run.guest("exit"), (run.guest("by-id") or "").split()
    print(f"   station: exit {shown(status)} after SIGTERM; /dev/serial/by-id at the end: "
          f"{' '.join(links) or 'empty'}")
    if status != "1":
        run.fail(f"the station's exit status is {shown(status)}, expected 1 (a unit failed)")
    # TNXA0001 is still plugged in: its link alone is left, TNXA0002's went with it.
    if len(links) != 1 or not links[0].endswith("_TNXA0001-if00-port0"):
        run.fail(f"/dev/serial/by-id holds {links} at the end, expected TNXA0001's link alone")
    records = journal(run)
    if len(records) != len(STATION_UNITS):
        run.fail(f"the journal holds {len(records)} units, expected {len(STATION_UNITS)}")
    for number, (record, (serial, outcome)) in enumerate(zip(records, STATION_UNITS), 1):
        check_station_record(run, record, number, serial, outcome)
    for serial in ("TNXA0001", "TNXA0002"):
        check_station_module(run, serial, [s for s, _ in STATION_UNITS].count(serial))


SCENARIOS = {
    "usb-station": usb_station,
    "usb-unplug": usb_unplug,
    "usb-unplug-fleet": usb_unplug_fleet,
    "usb-update": usb_update,
    "usb-ports": usb_ports,
    "usb-serial-update": usb_serial_update,
    "usb-two-adapters": usb_two_adapters,
    "record-update": record_update,
    "line-update": line_update,
    "silent-module": silent_module,
    "rejection": rejection,
    "service": service,
    "wine-update": wine_update,
    "wine-download": wine_download,
    "wine-usb-update": wine_usb_update,
}


def main(argv=None):
    parser = argparse.ArgumentParser(description="Decides whether one boot of the serial test "
                                                 "machine passed.")
    parser.add_argument("scenario", choices=SCENARIOS)
    parser.add_argument("run_dir")
    parser.add_argument("--qemu-status", type=int, default=0)
    parser.add_argument("--module-status", type=int, default=0)
    arguments = parser.parse_args(argv)

    run = Run(arguments.run_dir, arguments.qemu_status, arguments.module_status)
    SCENARIOS[arguments.scenario](run)
    if not run.failures:
        print("   ok")
        return 0
    print(f"   (files: {run.folder})")
    for line in read_lines(run.path("module.err"))[:40]:
        print(line)
    return 1


if __name__ == "__main__":
    sys.exit(main())
