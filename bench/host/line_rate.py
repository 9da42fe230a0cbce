#!/usr/bin/python3
"""Figures of the virtual port's pacing as a host sees it.

usage: line_rate.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

At each speed the profile's [line] sets, the host opens its end at the same speed and reads
one read at a time in a tight select loop on the descriptor, noting when each byte arrived:
- a burst: commands written at once, whose answers (at least 2,000 bytes, or a second of line
  time at the low speeds) queue back to back;
- continuous output whose text carries longer than its interval, so the line never rests.
- XON/XOFF: with continuous output under `flow = "xonxoff"`, the host sends XOFF again and
  again, and counts the bytes that still come once it has (two at most: the one on the line
  and the one under way when the XOFF's own stop bit ends), and the time until the last.
Each of the first two gives the rate measured against the line rate (bytes after the first over the time
they took), the median and p99 spacing of the bytes, and the simulator's CPU time
(utime + stime) over the run as a share of one core.
"""
import os
import select
import sys
import tempfile
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import Simulator, cpu_seconds, percentile, report, write_folder  # noqa: E402

SPEEDS = (1200, 9600, 19200, 57600, 115200)
ANSWER = 100  # bytes an answer, CR LF included


def profile(folder, speed):
    text = "0123456789" * 9 + "ABCDEFGH"
    # Continuous output carrying 1.5 intervals of line time: it never lets the line rest.
    interval = max(0.005, round(len(text + "XY") * 10 / speed / 1.5, 4))
    (folder / "line.toml").write_text(
        f'[line]\nspeed = {speed}\n[framing]\nterminator = "[CR]"\n'
        f'[[rule]]\nmatch = "Q[CR]"\nanswer = "{text}[CR][LF]"\n'
        f'[continuous]\ntext = "{text}[CR][LF]"\ninterval = {interval}\nenabled = false\n'
        f'[[rule]]\nmatch = "S[CR]"\ncontinuous = "on"\n')
    return folder / "line.toml"


def arrivals(fd, count, seconds):
    """The arrival time of each of count bytes, read as they come."""
    times, end = [], time.monotonic() + seconds
    while len(times) < count and time.monotonic() < end:
        if select.select([fd], [], [], 0.1)[0]:
            data = os.read(fd, 1)
            times.append(time.perf_counter())
            if not data:
                break
    return times


def figures(name, speed, times, cpu, wall):
    # The first reads may find bytes that came while the host was busy elsewhere: stamped when
    # read, not when they came, they would make the line look fast.
    times = times[16:]
    line_rate = speed / 10
    measured = (len(times) - 1) / (times[-1] - times[0])
    gaps = [(b - a) * 1e6 for a, b in zip(times, times[1:])]
    report(f"{name} at {speed}: rate against the line rate, {len(times)} bytes",
           100 * (measured / line_rate - 1), "%", "within 0.5")
    report(f"{name} at {speed}: byte spacing, p50", percentile(gaps, 50), "us",
           f"{1e6 / line_rate:.1f}", decimals=1)
    report(f"{name} at {speed}: byte spacing, p99", percentile(gaps, 99), "us", decimals=1)
    report(f"{name} at {speed}: simulator CPU", 100 * cpu / wall, "% of a core", decimals=2)


def xoff_figures(program, work, speed, quick):
    folder = work / f"xoff-{speed}"
    folder.mkdir()
    write_folder(folder, b"1", b"1")
    text = "0123456789" * 9 + "ABCDEFGH"
    interval = max(0.005, round(len(text) * 10 / speed / 1.5, 4))
    (folder / "xoff.toml").write_text(
        f'[line]\nspeed = {speed}\nflow = "xonxoff"\n[continuous]\ntext = "{text}"\n'
        f'interval = {interval}\nenabled = true\n')
    sim = Simulator(program, folder, "--profile", str(folder / "xoff.toml"))
    counts, lasts = [], []
    try:
        with serial.Serial(sim.host_port, speed) as host:
            for _ in range(10 if quick else 40):
                host.write(b"\x11")
                arrivals(host.fd, 50, 1)
                sent = time.perf_counter()
                host.write(b"\x13")
                after = arrivals(host.fd, 1000, 0.05)
                counts.append(len(after))
                lasts.append((after[-1] - sent) * 1e6 if after else 0.0)
    finally:
        sim.process.kill()
        sim.wait()
    byte_us = 1e7 / speed
    report(f"XOFF at {speed}: bytes after it, p50", percentile(counts, 50), "bytes", "<= 2",
           decimals=1)
    report(f"XOFF at {speed}: bytes after it, p90", percentile(counts, 90), "bytes", decimals=1)
    report(f"XOFF at {speed}: last byte after it, p50", percentile(lasts, 50) / byte_us,
           "byte times", "<= 2", decimals=2)


def run(program, work, speed, quick):
    folder = work / str(speed)
    folder.mkdir()
    write_folder(folder, b"1", b"1")
    sim = Simulator(program, folder, "--profile", str(profile(folder, speed)))
    line_rate = speed / 10
    # 2,000 bytes, or a little over a second of line time where those would take long.
    count = 2000 if 2000 / line_rate <= 2.5 else int(1.2 * line_rate)
    count = count // 2 if quick else count
    commands = -(-count // ANSWER)
    try:
        with serial.Serial(sim.host_port, speed) as host:
            time.sleep(0.2)
            pid = sim.process.pid
            cpu0, wall0 = cpu_seconds(pid), time.monotonic()
            host.write(b"Q\r" * commands)
            times = arrivals(host.fd, commands * ANSWER, 4 * commands * ANSWER / line_rate + 2)
            figures("burst", speed, times, cpu_seconds(pid) - cpu0, time.monotonic() - wall0)
            host.write(b"S\r")
            # Past the answer's and the first output's bytes, into the steady stream.
            arrivals(host.fd, 3 * ANSWER, 5)
            cpu0, wall0 = cpu_seconds(pid), time.monotonic()
            times = arrivals(host.fd, count, 4 * count / line_rate + 2)
            figures("continuous", speed, times, cpu_seconds(pid) - cpu0,
                    time.monotonic() - wall0)
    finally:
        sim.process.kill()
        sim.wait()


def main():
    program = sys.argv[1]
    quick = "--quick" in sys.argv
    with tempfile.TemporaryDirectory(prefix="kalo-rate-") as tmp:
        for speed in SPEEDS:
            run(program, Path(tmp), speed, quick)
        for speed in (9600, 115200):
            xoff_figures(program, Path(tmp), speed, quick)


if __name__ == "__main__":
    main()
