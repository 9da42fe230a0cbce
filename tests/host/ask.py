#!/usr/bin/python3
"""Plays the host program with pyserial: sends one command, waits for the answer.

usage: ask.py DEVICE HEXBYTES EXPECTED_LENGTH
Prints one line: the answer in hex and the milliseconds from the first byte written to the
first byte of the answer.
"""
import sys
import time

import serial


def main():
    device, command_hex, expected = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with serial.Serial(device, 9600, timeout=0.01) as port:
        port.reset_input_buffer()
        sent = time.monotonic()
        port.write(bytes.fromhex(command_hex))
        port.flush()
        answer = b""
        first = None
        deadline = sent + 3.0
        while len(answer) < expected and time.monotonic() < deadline:
            chunk = port.read(64)
            if chunk:
                if first is None:
                    first = time.monotonic()
                answer += chunk
        latency = -1 if first is None else round((first - sent) * 1000)
        print(answer.hex(" "), latency)


if __name__ == "__main__":
    main()
