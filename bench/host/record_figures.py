#!/usr/bin/python3
"""What the recording relay adds to the line, seen from an independent host.

usage: record_figures.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

Two socat cables, each with an ideal responder (a process that answers "OK\\r\\n" as soon as it
has read "P\\r\\n") on its end B. pyserial times from writing the command to holding the whole
answer, on the first cable's end A directly and through
`kalo_rs232c --headless --virtual-port --record A` on the second, one exchange on each in
turn, so that both see the same load of a shared machine. The difference is what the relay
adds to a round trip: two forwards, each a read and a write through the program's virtual
port and event loop.
"""
import sys
import tempfile
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import Cable, Simulator, exchange_times, ideal_responder, percentile, report  # noqa


def main():
    program = sys.argv[1]
    count = 40 if "--quick" in sys.argv else 1000
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        for name in ("direct", "relayed"):
            (work / name).mkdir()
        with Cable(work / "direct") as near_cable, Cable(work / "relayed") as far_cable, \
                ideal_responder(near_cable.b), ideal_responder(far_cable.b), \
                Simulator(program, work / "relayed", "--record", far_cable.a) as recorder:
            time.sleep(0.3)
            with serial.Serial(near_cable.a, 9600, timeout=2) as near, \
                    serial.Serial(recorder.host_port, 9600, timeout=2) as far:
                direct, relayed = exchange_times([near, far], count)
    paired = [r - d for r, d in zip(relayed, direct)]
    for p in (50, 99):
        report(f"record: round trip on the cable, p{p}", percentile(direct, p), "ms")
        report(f"record: round trip through the recording relay, p{p}",
               percentile(relayed, p), "ms")
        report(f"record: relay's added latency (difference of the p{p}s)",
               percentile(relayed, p) - percentile(direct, p), "ms")
        report(f"record: relay's added latency, p{p} of the exchanges taken in turn",
               percentile(paired, p), "ms")


if __name__ == "__main__":
    main()
