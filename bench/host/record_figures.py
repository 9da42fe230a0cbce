#!/usr/bin/python3
"""What the recording relay adds to the line, seen from an independent host.

usage: record_figures.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

An ideal responder (a process that answers "OK\\r\\n" as soon as it has read "P\\r\\n") sits
on end B of a socat cable. pyserial times from writing the command to holding the whole
answer: once on end A directly, once through `kalo_rs232c --headless --virtual-port --record A`
on the recorder's host port. The difference is what the relay adds to a round trip: two
forwards, each a read and a write through the program's virtual port and event loop.
"""
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent.parent / "tests" / "host"))
from line_figures import IDEAL, exchange_times  # noqa: E402
from recordhost import Cable, Program  # noqa: E402
from wire_figures import percentile, report  # noqa: E402


def main():
    program = sys.argv[1]
    count = 40 if "--quick" in sys.argv else 1000
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        cable = Cable(work)
        ideal = subprocess.Popen([sys.executable, "-c", IDEAL, cable.b])
        try:
            time.sleep(0.3)
            direct = exchange_times(cable.a, count)
            folder = work / "recorder"
            folder.mkdir()
            recorder = Program(program, folder, "--virtual-port", "--record", cable.a)
            try:
                relayed = exchange_times(recorder.host_port, count)
            finally:
                recorder.stop()
        finally:
            ideal.kill()
            ideal.wait()
            cable.close()
    for p in (50, 99):
        report(f"record: round trip on the cable, p{p}", percentile(direct, p), "ms")
        report(f"record: round trip through the recording relay, p{p}",
               percentile(relayed, p), "ms")
        report(f"record: relay's added latency, p{p}",
               percentile(relayed, p) - percentile(direct, p), "ms")


if __name__ == "__main__":
    main()
