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
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import serial

HERE = Path(__file__).parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent.parent / "tests" / "host"))
from line_figures import ANSWER, COMMAND, IDEAL  # noqa: E402
from recordhost import Cable, Program  # noqa: E402
from wire_figures import percentile, report  # noqa: E402


def round_trip(host):
    sent = time.perf_counter()
    host.write(COMMAND)
    if host.read(len(ANSWER)) != ANSWER:
        sys.exit("record_figures: no answer")
    return (time.perf_counter() - sent) * 1000


def main():
    program = sys.argv[1]
    count = 40 if "--quick" in sys.argv else 1000
    direct, relayed = [], []
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        for name in ("direct", "relayed"):
            (work / name).mkdir()
        cables = [Cable(work / "direct"), Cable(work / "relayed")]
        ideals = [subprocess.Popen([sys.executable, "-c", IDEAL, cable.b]) for cable in cables]
        recorder = None
        try:
            recorder = Program(program, work / "relayed", "--virtual-port", "--record",
                               cables[1].a)
            time.sleep(0.3)
            with serial.Serial(cables[0].a, 9600, timeout=2) as near, \
                    serial.Serial(recorder.host_port, 9600, timeout=2) as far:
                for _ in range(count):
                    direct.append(round_trip(near))
                    relayed.append(round_trip(far))
                    time.sleep(0.002)
        finally:
            if recorder:
                recorder.stop()
            for ideal in ideals:
                ideal.kill()
                ideal.wait()
            for cable in cables:
                cable.close()
    # The first ones warm up caches on every side.
    direct, relayed = direct[count // 10:], relayed[count // 10:]
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
