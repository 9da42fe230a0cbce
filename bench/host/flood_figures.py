#!/usr/bin/python3
"""The program's memory under a host that floods it, seen from outside.

usage: flood_figures.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

`kalo_rs232c --headless --virtual-port --profile` with gap framing and a rule that random
bytes never match: every frame is logged as unanswered. A host writes random bytes into the
port as fast as the program takes them for 60 s (15 s with --quick), and the resident memory of the process is read
from /proc every few seconds. The in-memory log keeps at most 256 MiB, so the resident
memory must level off however long the flood lasts; the growth over the last third of the
flood says whether it has.
"""
import os
import sys
import tempfile
import threading
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import Simulator, report  # noqa: E402

PROFILE = """[framing]
gap_ms = 2
[[rule]]
match = "never sent by the flood"
answer = "OK"
"""


def resident_mib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0.0


def flood(port, seconds, sent):
    """Random bytes as fast as the port takes them; frames end at the gap or the frame limit."""
    with serial.Serial(port, 115200, timeout=1, write_timeout=1) as host:
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            chunk = os.urandom(65536)
            try:
                sent[0] += host.write(chunk) or 0
            except serial.SerialTimeoutException:
                continue


def main():
    program = sys.argv[1]
    seconds = 15 if "--quick" in sys.argv else 60
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        (folder / "flood.toml").write_text(PROFILE)
        # A flood at memory speed: the line's own pace would hold the host back.
        sim = Simulator(program, folder, "--profile", str(folder / "flood.toml"), "--pace", "none",
                        read_stdout=False)
        pid = sim.process.pid
        start_mib = resident_mib(pid)
        sent = [0]
        writer = threading.Thread(target=flood, args=(sim.host_port, seconds, sent))
        began = time.monotonic()
        writer.start()
        samples = []
        while writer.is_alive():
            time.sleep(1)
            samples.append((time.monotonic() - began, resident_mib(pid)))
        writer.join()
        sim.stop(60)
    last = [s for s in samples if s[0] >= seconds * 2 / 3]
    growth = (last[-1][1] - last[0][1]) / max(last[-1][0] - last[0][0], 1e-9)
    report("flood: resident memory at start", start_mib, "MiB", decimals=1)
    report(f"flood: random bytes written in {seconds} s", sent[0] / 2**20, "MiB", decimals=1)
    report(f"flood: resident memory after {seconds} s of random bytes", samples[-1][1], "MiB",
           "<= 300 (log <= 256)", decimals=1)
    report("flood: peak resident memory", max(m for _, m in samples), "MiB", decimals=1)
    report("flood: growth over the last third of the flood", growth, "MiB/s",
           "about 0 once the log is full", "3.18, no levelling off", decimals=2)


if __name__ == "__main__":
    main()
