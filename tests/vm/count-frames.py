#!/usr/bin/env python3
"""Counts the update commands in the bytes that QEMU passed to the module's line.

    count-frames.py LINE_LOG

LINE_LOG holds every byte the guest's UART sent, as QEMU wrote it to the module's pty. Prints
"total N Start a Data b Program c End d Finish e", or "unframed N" with the offset of the
first byte that does not belong to an STX command ModNr ... ETX frame, so that the host can
compare the counts with the module's own.
"""

import sys

STX, ETX = 0x02, 0x03
NAMES = {ord("B"): "Start", ord("C"): "Data", ord("D"): "Program", ord("E"): "End",
         ord("F"): "Finish"}


def main():
    data = open(sys.argv[1], "rb").read()
    counts = {name: 0 for name in NAMES.values()}
    position = 0
    while position < len(data):
        end = data.find(bytes([ETX]), position + 3)
        if data[position] != STX or end < 0 or data[position + 1] not in NAMES:
            print(f"unframed {position}")
            return 1
        counts[NAMES[data[position + 1]]] += 1
        position = end + 1
    print(f"total {sum(counts.values())} " +
          " ".join(f"{name} {count}" for name, count in counts.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
