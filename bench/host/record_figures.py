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

Then what a recording holds: the host writes one byte at a time, each once the last one's
read is logged, so that each is a read of its own, and the growth of the recorder's resident
memory over them (read from /proc, after a first thousand reads have warmed up) is divided by
the reads its log shows. That growth holds the in-memory log's line of each read as well as
the recording's.
"""
import os
import sys
import tempfile
import threading
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import Cable, Simulator, exchange_times, ideal_responder, percentile, report  # noqa


def resident_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def drain(fd):
    """Reads what the instrument's end gets until the cable goes."""
    try:
        while os.read(fd, 65536):
            pass
    except OSError:
        pass


def bytes_per_read(program, work, count):
    """Resident memory a recording grows by per one-byte read of the host."""
    (work / "memory").mkdir()
    with Cable(work / "memory") as cable, \
            Simulator(program, work / "memory", "--record", cable.a) as recorder:
        instrument = os.open(cable.b, os.O_RDONLY | os.O_NOCTTY)
        threading.Thread(target=drain, args=(instrument,), daemon=True).start()
        reads = lambda: sum("ホスト→装置" in line for line in recorder.lines)  # noqa: E731
        marks = []
        with serial.Serial(recorder.host_port, 9600, timeout=2) as host:
            for n in (1000, count):
                for _ in range(n):
                    # The next byte only once the last one's read is logged: one byte a read.
                    logged = len(recorder.lines)
                    host.write(b"x")
                    deadline = time.monotonic() + 1
                    while len(recorder.lines) <= logged and time.monotonic() < deadline:
                        time.sleep(0.00005)
                time.sleep(1)
                marks.append((reads(), resident_kib(recorder.process.pid)))
        os.close(instrument)
    (reads0, rss0), (reads1, rss1) = marks
    return (rss1 - rss0) * 1024 / max(1, reads1 - reads0), reads1 - reads0


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
    with tempfile.TemporaryDirectory() as tmp:
        per_read, reads = bytes_per_read(program, Path(tmp),
                                         10_000 if "--quick" in sys.argv else 100_000)
    report(f"record: resident memory per one-byte read, over {reads} reads", per_read, "bytes",
           "", "8314")


if __name__ == "__main__":
    main()
