#!/usr/bin/python3
"""Figures of the line as a host program sees them.

The simulator runs as a process of its own on one end of a socat cable; this process plays
the host with pyserial on the other end, so every figure includes what a real host would
wait for: the program's event loop, the pty driver and the relay through socat.

usage: wire_figures.py PROGRAM [--quick]
Prints one line "FIGURE|name|value|unit|target|before" per figure, as the benchmarks do.
Exits with 3 when PROGRAM has no --headless option.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import serial

STARTED = "通信を開始しました。".encode("utf-8")
COMMAND = b"ABC+\r+\n"
ANSWER = b"4569.12"
TEXT = b"99.99"
FLOOD_CHUNK = 96          # bytes every 25 ms: 3840 bytes/s, 38400 bit/s at 10 bits a byte
FLOOD_TICK = 0.025


def report(name, value, unit, target="", before="", decimals=3):
    print(f"FIGURE|{name}|{value:.{decimals}f}|{unit}|{target}|{before}", flush=True)


def percentile(values, p):
    """Nearest rank, as the in-process benchmarks take it."""
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * (len(values) - 1) + 0.5))]


def write_settings(folder, output_type, interval, speed):
    """The settings files the settings dialog writes for its defaults, with three changes."""
    (folder / "ACSet.txt").write_bytes(f'"1","{speed}","N","8","1"\r\n'.encode())
    (folder / "PROTcol.txt").write_bytes(
        f'"{output_type}","{interval}","99.99","4569.12","49.12cm","","","",'
        '"ABC+[CR]+[LF]","[ACK]+ODF+[NCK]","","",""\r\n'.encode())
    (folder / "SOUCHICMD.txt").write_bytes(
        b'"99.99","ABC+\r+\n","\x06+ODF+","","","","4569.12","49.12cm","","",""\r\n')
    (folder / "ACSet2.txt").write_bytes(b'"1"\r\n')


class Cable:
    """A socat null-modem cable: the simulator takes end A, the host end B."""

    def __init__(self, folder):
        self.sim_end = str(folder / "A")
        self.host_end = str(folder / "B")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.sim_end}", f"pty,raw,echo=0,link={self.host_end}"],
            stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(self.sim_end) and os.path.exists(self.host_end), 5, "socat")

    def close(self):
        self.socat.terminate()
        self.socat.wait(5)


class Simulator:
    """kalo_rs232c as a separate process: headless (communicating at once) or windowed
    offscreen without Start pressed, which is the stopped state with the port open."""

    def __init__(self, program, folder, device, headless=True):
        self.out_path = folder / "stdout.txt"
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        args = [program, "--port", device, "--folder", str(folder)]
        if headless:
            args.insert(1, "--headless")
        else:
            env["QT_QPA_PLATFORM"] = "offscreen"
        with open(self.out_path, "wb") as out:
            self.proc = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, env=env)
        pts = os.path.realpath(device)
        wait_for(lambda: self.holds(pts), 10, "the simulator opening its port")
        if headless:
            wait_for(lambda: STARTED in self.out_path.read_bytes(), 10, "the simulator starting")

    def holds(self, path):
        if self.proc.poll() is not None:
            sys.exit(f"wire_figures: the simulator ended: {self.out_path.read_text(errors='replace')}")
        fds = Path(f"/proc/{self.proc.pid}/fd")
        try:
            return any(os.readlink(fd) == path for fd in fds.iterdir())
        except OSError:  # an fd closed while being listed
            return False

    def cpu_seconds(self):
        return cpu_seconds(self.proc.pid)

    def resident_mib(self):
        for line in Path(f"/proc/{self.proc.pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
        return -1

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def cpu_seconds(pid):
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            sys.exit(f"wire_figures: timed out waiting for {what}")
        time.sleep(0.02)


def cable_round_trip(cable, count):
    """The floor under every answer: a byte through socat and back, with nobody in between."""
    times = []
    with serial.Serial(cable.host_end, 9600, timeout=2) as host, \
            serial.Serial(cable.sim_end, 9600, timeout=2) as far:
        for _ in range(count):
            sent = time.perf_counter()
            host.write(b"x")
            far.write(far.read(1))
            if host.read(1) != b"x":
                return -1
            times.append((time.perf_counter() - sent) * 1000)
    return percentile(times, 50)


def answer_times(program, work, count):
    """Milliseconds beyond the fixed second, from writing the command's first byte to
    holding the whole answer."""
    folder = work / "answering"
    folder.mkdir()
    cable = Cable(folder)
    write_settings(folder, "1", "1", "9600")
    round_trip = cable_round_trip(cable, 50)
    sim = Simulator(program, folder, cable.sim_end)
    beyond = []
    try:
        with serial.Serial(cable.host_end, 9600, timeout=3) as host:
            for _ in range(count):
                host.reset_input_buffer()
                sent = time.perf_counter()
                host.write(COMMAND)
                answer = host.read(len(ANSWER))
                arrived = time.perf_counter()
                if answer != ANSWER:
                    sys.exit(f"wire_figures: answer {answer!r}, expected {ANSWER!r}")
                beyond.append((arrived - sent - 1.0) * 1000)
                time.sleep(0.2)
    finally:
        sim.stop()
        cable.close()
    return round_trip, beyond


def continuous_arrivals(program, work, cycles):
    """Host clock times at which each whole continuous-output text arrived."""
    folder = work / "continuous"
    folder.mkdir()
    cable = Cable(folder)
    write_settings(folder, "0", "0.2", "9600")
    arrivals = []
    with serial.Serial(cable.host_end, 9600, timeout=2) as host:
        sim = Simulator(program, folder, cable.sim_end)
        try:
            while len(arrivals) <= cycles:
                text = host.read(len(TEXT))
                if text != TEXT:
                    sys.exit(f"wire_figures: continuous output {text!r}, expected {TEXT!r}")
                arrivals.append(time.perf_counter())
        finally:
            sim.stop()
            cable.close()
    return arrivals


def flood(program, work, state, seconds):
    """CPU seconds per wall second and resident memory added, while the host floods the line
    with random bytes at 38400 bit/s and reads whatever comes back; and, for scale, the CPU
    the socat relay spent on the same bytes."""
    folder = work / f"flood-{state}"
    folder.mkdir()
    cable = Cable(folder)
    write_settings(folder, "0" if state == "continuous" else "1", "1", "38400")
    sim = Simulator(program, folder, cable.sim_end, headless=state != "stopped")
    try:
        with serial.Serial(cable.host_end, 38400, timeout=0) as host:
            # Writes never wait: a stopped simulator leaves its input unread, and a full line
            # loses the chunk, as a real line without flow control would. (pyserial's own
            # non-blocking write spins on a full line.)
            os.set_blocking(host.fd, False)
            time.sleep(1.0)  # past start-up work
            cpu0, rss0, wall0 = sim.cpu_seconds(), sim.resident_mib(), time.monotonic()
            relay0 = cpu_seconds(cable.socat.pid)
            due = wall0
            while due < wall0 + seconds:
                try:
                    os.write(host.fd, os.urandom(FLOOD_CHUNK))
                except BlockingIOError:
                    pass
                host.read(4096)
                due += FLOOD_TICK
                time.sleep(max(0.0, due - time.monotonic()))
            wall = time.monotonic() - wall0
            cpu, rss = sim.cpu_seconds() - cpu0, sim.resident_mib() - rss0
            relay = cpu_seconds(cable.socat.pid) - relay0
    finally:
        sim.stop()
        cable.close()
    return cpu / wall, rss, relay / wall


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--quick", action="store_true")
    args = parser.parse_args()
    usage = subprocess.run([args.program, "--help"], capture_output=True, text=True).stdout
    if "--headless" not in usage:
        print(f"wire_figures: {args.program} has no --headless option; no figures from the host",
              file=sys.stderr)
        return 3

    exchanges = 5 if args.quick else 30
    cycles = 20 if args.quick else 1000
    flood_seconds = 5 if args.quick else 60
    with tempfile.TemporaryDirectory(prefix="kalo-wire-") as tmp:
        work = Path(tmp)
        round_trip, beyond = answer_times(args.program, work, exchanges)
        report("host: cable round trip through socat, p50", round_trip, "ms", "", "")
        report(f"host: answer beyond the fixed second, p50 of {exchanges}",
               percentile(beyond, 50), "ms", "<= 0.3", "2.5-2.8")
        report(f"host: answer beyond the fixed second, p99 of {exchanges}",
               percentile(beyond, 99), "ms", "<= 1", "10-18")

        arrivals = continuous_arrivals(args.program, work, cycles)
        periods = [(b - a) * 1000 for a, b in zip(arrivals, arrivals[1:])]
        first = min(50, cycles)
        report(f"host: continuous period at 0.2 s, mean of {first}",
               (arrivals[first] - arrivals[0]) * 1000 / first, "ms", "200 +- 0.1", "203.8")
        report(f"host: continuous period at 0.2 s, worst of {cycles}",
               max(periods, key=lambda p: abs(p - 200)), "ms", "", "")
        report(f"host: drift after {cycles} cycles at 0.2 s",
               (arrivals[cycles] - arrivals[0] - cycles * 0.2) * 1000, "ms", "about 0",
               "3800 per 1000")

        for state in ("stopped", "answering", "continuous"):
            cpu, rss, relay = flood(args.program, work, state, flood_seconds)
            report(f"host: CPU s per wall s, {flood_seconds} s flood at 38400 bit/s, {state}",
                   cpu, "s/s", "about 0.001", "0.001", decimals=5)
            report(f"host: socat relay's own CPU s per wall s in that flood, {state}",
                   relay, "s/s", "", "", decimals=5)
            report(f"host: resident memory added, {flood_seconds} s flood, {state}",
                   rss, "MiB", "flat", "flat")
    return 0


if __name__ == "__main__":
    sys.exit(main())
