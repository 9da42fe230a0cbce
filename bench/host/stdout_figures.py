#!/usr/bin/python3
"""Figures of the headless program's standard output as a test harness treats it.

Continuous output at interval 0 writes one log line per output, so standard output carries
as many lines as the host gets outputs. The harness either reads standard output or never
does; a pyserial host on the virtual port reads everything it is sent.

usage: stdout_figures.py PROGRAM [--quick]
Prints one line "FIGURE|name|value|unit|target|before" per figure, as the benchmarks do.
"""
import argparse
import fcntl
import signal
import struct
import sys
import tempfile
import termios
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import CountingHost, Simulator, cpu_seconds, report, wait_for  # noqa: E402
from wire_figures import write_settings  # noqa: E402

OUTPUT = len(b"99.99")


def pending(fd):
    return struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]


def run(program, folder, read_stdout, read_at_end, seconds):
    """Outputs per second at the host once standard output is full (or, when it is read,
    after the same start-up); the time from SIGTERM to the end of the process, with the
    harness reading standard output from then on or never; the simulator's CPU time per
    line of its saved log, which does not depend on how busy the machine is."""
    folder.mkdir()
    write_settings(folder, "0", "0", "38400")
    # Outputs as fast as the program makes them, not as the line carries them.
    simulator = Simulator(program, folder, "--pace", "none", read_stdout=False)
    sim = simulator.process
    host = CountingHost(simulator.host_port, 38400)
    host.start()
    drain = threading.Thread(target=sim.stdout.read, daemon=True)
    if read_stdout:
        drain.start()
        time.sleep(1.0)
    else:
        def full():
            before = pending(sim.stdout.fileno())
            time.sleep(0.3)
            return before > 0 and pending(sim.stdout.fileno()) == before
        wait_for(full, 30, "standard output filling")
    start, at = host.received, time.monotonic()
    time.sleep(seconds)
    rate = (host.received - start) / OUTPUT / (time.monotonic() - at)
    cpu = cpu_seconds(sim.pid)
    stop = time.monotonic()
    sim.send_signal(signal.SIGTERM)
    if not read_stdout and read_at_end:
        drain.start()
    sim.wait(30)
    ended = time.monotonic() - stop
    host.stop()
    lines = next((folder / "LogData").iterdir()).read_bytes().count(b"\r\n")
    return rate, ended, cpu / lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    seconds = 2 if args.quick else 10
    with tempfile.TemporaryDirectory(prefix="kalo-stdout-") as tmp:
        cases = (("read", True, True), ("not read until SIGTERM", False, True),
                 ("never read", False, False))
        for who, read_stdout, read_at_end in cases:
            rate, ended, cpu = run(args.program, Path(tmp) / who.replace(" ", "-"), read_stdout,
                              read_at_end, seconds)
            blocked = not read_stdout
            report(f"host: outputs per second at interval 0, stdout {who}", rate, "1/s",
                   "> 0" if blocked else "", "0 once the pipe is full" if blocked else "",
                   decimals=0)
            report(f"host: simulator CPU per log line, stdout {who}", cpu * 1e6, "us", "", "",
                   decimals=1)
            report(f"host: SIGTERM to process end, stdout {who}", ended * 1000, "ms",
                   "" if read_at_end else "about 3000", "" if read_at_end else "never", decimals=0)
    return 0


if __name__ == "__main__":
    sys.exit(main())
