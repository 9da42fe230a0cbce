#!/usr/bin/python3
"""Figures of profile answers and of what reaches a slow host, seen from outside.

usage: line_figures.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

- Profile answers: the simulator plays a one-rule profile (terminator CR LF, delay 0) on one
  end of a socat cable; pyserial on the other end times from writing a command to holding
  the whole answer. The same is timed with an ideal responder in place of the simulator: a
  process that answers as soon as the command's last byte is read.
- A slow host (about 2 KB/s) on the virtual port, 2,000-byte continuous output every 0.5 s,
  SIGTERM after 12 s: bytes the log claims against bytes the host received.
- SIGTERM at interval 30: the time until the process has ended.
"""
import sys
import tempfile
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import (ONE_RULE, Cable, Simulator, SlowHost, delivered_by_log,  # noqa: E402
                     exchange_times, ideal_responder, percentile, report, write_folder)


def times_on(device, count):
    with serial.Serial(device, 9600, timeout=2) as host:
        return exchange_times([host], count)[0]


def answer_latency(program, work, count):
    folder = work / "profile"
    folder.mkdir()
    write_folder(folder, b"1", b"1")
    (folder / "Instrument.toml").write_text(ONE_RULE)
    with Cable(folder) as cable, Simulator(program, folder, "--port", cable.a, "--pace", "none"):
        simulated = times_on(cable.b, count)
    with Cable(work) as cable, ideal_responder(cable.a):
        time.sleep(0.3)
        reference = times_on(cable.b, count)
    for p in (50, 99):
        report(f"profile answer round trip, p{p}", percentile(simulated, p), "ms")
        report(f"ideal responder round trip, p{p}", percentile(reference, p), "ms")
        report(f"profile answer beyond the ideal responder, p{p}",
               percentile(simulated, p) - percentile(reference, p), "ms", "<= 0.3")


def slow_host(program, work, seconds):
    folder = work / "slow"
    folder.mkdir()
    text = b"0123456789" * 200
    write_folder(folder, b"0", b"0.5", text)
    # The host sets the pace, not the line.
    sim = Simulator(program, folder, "--pace", "none")
    host = SlowHost(sim.host_port, 2000)
    time.sleep(seconds)
    sim.stop()
    received = host.finish()
    expected, outputs, dropped = delivered_by_log(sim.saved_log(), text)
    report("slow host: outputs logged", outputs, "", decimals=0)
    report("slow host: bytes the log says reached the host", expected, "bytes", "= received",
           decimals=0)
    report("slow host: bytes received", len(received), "bytes", decimals=0)
    report("slow host: bytes logged as dropped at the stop", dropped, "bytes", decimals=0)


def stop_at_interval_30(program, work):
    folder = work / "interval30"
    folder.mkdir()
    write_folder(folder, b"0", b"30")
    sim = Simulator(program, folder)
    time.sleep(2)
    sim.stop()
    report("SIGTERM to exit at interval 30", sim.stop_seconds * 1000, "ms", "<= 100 + drain",
           "29000")


def main():
    program = sys.argv[1]
    quick = "--quick" in sys.argv
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        answer_latency(program, work, 40 if quick else 400)
        slow_host(program, work, 3 if quick else 12)
        stop_at_interval_30(program, work)


if __name__ == "__main__":
    main()
