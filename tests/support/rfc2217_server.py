#!/usr/bin/env python3
"""An RFC 2217 server for the tests of the network ports, built on pyserial's PortManager.

    rfc2217_server.py [--host 127.0.0.1|::1] PTY [PTY ...]

Serves each pseudo-terminal on its own TCP port of the loopback address (never another
interface), one client at a time, and prints "ready PORT [PORT ...]" on standard output once
every port listens. Like a serial port server, it opens the pseudo-terminal when a client
connects (9600 8N1, DTR and RTS raised) and closes it again when the client leaves, lowering
DTR and RTS first, so that the module on the other side sees the program come and go. Bytes
go both ways through the PortManager: Telnet and RFC 2217 are filtered out on the way in and
IAC is doubled on the way out. It runs until it is ended by a signal; its log goes to standard
error.
"""

import argparse
import errno
import logging
import select
import signal
import socket
import sys
import threading

import serial
import serial.rfc2217

LOOPBACK = ("127.0.0.1", "::1")
NO_MODEM_LINES = (errno.EINVAL, errno.ENOTTY)


class PtyPort(serial.Serial):
    """A serial port on a pseudo-terminal, which has no modem lines of its own: where the kernel
    refuses them, DTR and RTS stay as set and CTS, DSR, RI and CD read as off. (With the
    modem-line library of tests/wine preloaded, the kernel's refusal never shows.)"""

    def _update_dtr_state(self):
        try:
            super()._update_dtr_state()
        except OSError as error:
            if error.errno not in NO_MODEM_LINES:
                raise

    def _update_rts_state(self):
        try:
            super()._update_rts_state()
        except OSError as error:
            if error.errno not in NO_MODEM_LINES:
                raise

    def _input_line(self, name):
        try:
            return getattr(super(), name)
        except OSError as error:
            if error.errno not in NO_MODEM_LINES:
                raise
            return False

    cts = property(lambda self: self._input_line("cts"))
    dsr = property(lambda self: self._input_line("dsr"))
    ri = property(lambda self: self._input_line("ri"))
    cd = property(lambda self: self._input_line("cd"))


class Connection:
    """The network side, as the PortManager writes to it (Telnet answers, unescaped)."""

    def __init__(self, client):
        self.client = client

    def write(self, data):
        self.client.sendall(data)


def open_port(path):
    port = PtyPort(None, baudrate=9600, bytesize=8, parity="N", stopbits=1, timeout=0)
    port.port = path
    port.dtr = True
    port.rts = True
    port.open()
    return port


def relay(client, port, manager):
    """Copies both ways until the client leaves or the pseudo-terminal fails."""
    while True:
        readable, _, _ = select.select([client, port.fileno()], [], [], 0.5)
        if client in readable:
            data = client.recv(4096)
            if not data:
                return "the client left"
            port.write(b"".join(manager.filter(data)))
        if port.fileno() in readable:
            data = port.read(port.in_waiting or 1)
            client.sendall(b"".join(manager.escape(data)))
        manager.check_modem_lines()


def serve_client(client, path, log):
    port = open_port(path)
    manager = serial.rfc2217.PortManager(port, Connection(client), logger=log)
    try:
        log.info("client ended: %s", relay(client, port, manager))
    except (OSError, serial.SerialException) as error:
        log.info("client ended: %s", error)
    finally:
        port.dtr = False
        port.rts = False
        port.close()


def serve(listener, path):
    log = logging.getLogger("rfc2217 " + path)
    while True:
        client, address = listener.accept()
        log.info("client from %s", address[0])
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            serve_client(client, path, log)
        except (OSError, serial.SerialException) as error:
            log.error("could not serve %s: %s", path, error)
        finally:
            client.close()


def listen(host):
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((host, 0))
    listener.listen(1)
    return listener


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1", choices=LOOPBACK)
    parser.add_argument("pty", nargs="+")
    args = parser.parse_args()
    logging.basicConfig(level=logging.INFO, stream=sys.stderr, format="%(name)s: %(message)s")
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(0))
    listeners = [listen(args.host) for _ in args.pty]
    for listener, path in zip(listeners, args.pty):
        threading.Thread(target=serve, args=(listener, path), daemon=True).start()
    print("ready " + " ".join(str(item.getsockname()[1]) for item in listeners), flush=True)
    while True:
        signal.pause()


if __name__ == "__main__":
    main()
