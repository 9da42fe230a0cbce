#!/usr/bin/python3
"""Figures of the line as a host program sees them.

The simulator runs as a process of its own on one end of a socat cable; this process plays
the host with pyserial on the other end, so every figure includes what a real host would
wait for: the program's event loop, the pty driver and the relay through socat.

A profile that answers through Lua is timed against an ideal responder (a process that
answers as soon as the command's last byte is read), and against a profile that answers with
fixed text, the three on cables of their own and asked in turn, so that all see the same load.

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

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import (ONE_RULE, Cable, Simulator, cpu_seconds, exchange_times,  # noqa: E402
                     ideal_responder, percentile, report, round_trip_ms, wait_for, write_folder)

COMMAND = b"ABC+\r+\n"
ANSWER = b"4569.12"
TEXT = b"99.99"
FLOOD_CHUNK = 96          # bytes every 25 ms: 3840 bytes/s, 38400 bit/s at 10 bits a byte
FLOOD_TICK = 0.025
# A go/no-go checker: the answer to P CR LF is computed from a stored reading by a function of
# the script, and comes out as the ideal responder's "OK" CR LF, byte for byte.
JUDGING_PROFILE = """script = "judge.lua"
[framing]
terminator = "[CR][LF]"
[values.reading]
initial = "12.480"
[[rule]]
match = "P[CR][LF]"
answer = "{= judge(tonumber(reading)) }[CR][LF]"
"""
JUDGING_SCRIPT = """NOMINAL, TOLERANCE = 12.5, 0.05
function judge(reading)
  return math.abs(reading - NOMINAL) <= TOLERANCE and "OK" or "NG"
end
"""


def write_settings(folder, output_type, interval, speed):
    """The settings files the settings dialog writes for its defaults, with three changes."""
    (folder / "ACSet.txt").write_bytes(f'"1","{speed}","N","8","1"\r\n'.encode())
    (folder / "PROTcol.txt").write_bytes(
        f'"{output_type}","{interval}","99.99","4569.12","49.12cm","","","",'
        '"ABC+[CR]+[LF]","[ACK]+ODF+[NCK]","","",""\r\n'.encode())
    (folder / "SOUCHICMD.txt").write_bytes(
        b'"99.99","ABC+\r+\n","\x06+ODF+","","","","4569.12","49.12cm","","",""\r\n')
    (folder / "ACSet2.txt").write_bytes(b'"1"\r\n')


def simulator(program, folder, device, headless=True):
    """The simulator on device: headless (communicating at once) or windowed without Start
    pressed, which is the stopped state with the port open; returned once it holds the port."""
    # Unpaced, as the ideal responder is: the figures are the program's, not the line's.
    sim = Simulator(program, folder, "--port", device, "--pace", "none", headless=headless)
    pts, fds = os.path.realpath(device), Path(f"/proc/{sim.process.pid}/fd")

    def holds():
        assert sim.process.poll() is None, "the simulator ended: " + "\n".join(sim.errors)
        try:
            return any(os.readlink(fd) == pts for fd in fds.iterdir())
        except OSError:  # an fd closed while being listed
            return False
    try:
        wait_for(holds, 10, "the simulator opening its port")
    except AssertionError:
        sim.stop()
        raise
    return sim


def resident_mib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return -1


def cable_round_trip(cable, count):
    """The floor under every answer: a byte through socat and back, with nobody in between."""
    times = []
    with serial.Serial(cable.b, 9600, timeout=2) as host, \
            serial.Serial(cable.a, 9600, timeout=2) as far:
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
    beyond = []
    with Cable(folder) as cable:
        write_settings(folder, "1", "1", "9600")
        round_trip = cable_round_trip(cable, 50)
        with simulator(program, folder, cable.a), \
                serial.Serial(cable.b, 9600, timeout=3) as host:
            for _ in range(count):
                host.reset_input_buffer()
                beyond.append(round_trip_ms(host, COMMAND, ANSWER) - 1000)
                time.sleep(0.2)
    return round_trip, beyond


def profile_folder(work, name, profile, script=None):
    folder = work / name
    folder.mkdir()
    write_folder(folder, b"1", b"1")
    (folder / "Instrument.toml").write_text(profile)
    if script:
        (folder / "judge.lua").write_text(script)
    return folder


def lua_answer_times(program, work, count):
    """Round trips of P CR LF: [ideal responder, fixed-text profile, profile through Lua]."""
    fixed = profile_folder(work, "fixed", ONE_RULE)
    judging = profile_folder(work, "judging", JUDGING_PROFILE, JUDGING_SCRIPT)
    ideal = work / "ideal"
    ideal.mkdir()
    with Cable(ideal) as ideal_cable, Cable(fixed) as fixed_cable, \
            Cable(judging) as judging_cable, ideal_responder(ideal_cable.a), \
            Simulator(program, fixed, "--port", fixed_cable.a, "--pace", "none"), \
            Simulator(program, judging, "--port", judging_cable.a, "--pace", "none"):
        time.sleep(0.3)  # the ideal responder's interpreter starting
        ports = [serial.Serial(c.b, 9600, timeout=2)
                 for c in (ideal_cable, fixed_cable, judging_cable)]
        try:
            return exchange_times(ports, count)
        finally:
            for port in ports:
                port.close()


# Answers one request with one answer, both given in hex, as soon as the request is whole.
IDEAL_PAIR = r"""
import os, sys, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
request, answer = bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3])
got = b""
while True:
    got += os.read(fd, 256)
    while got.startswith(request):
        got = got[len(request):]
        os.write(fd, answer)
"""


def protocol_answer_times(program, work, count, name, profile, request):
    """Round trips of one request to a profile of a built-in protocol and to an ideal responder
    that gives the same answer (learnt from the profile first): [ideal, profile]."""
    folder = profile_folder(work, name, profile)
    ideal = work / f"ideal-{name}"
    ideal.mkdir()
    with Cable(folder) as cable, Cable(ideal) as ideal_cable, \
            Simulator(program, folder, "--port", cable.a, "--pace", "none"):
        with serial.Serial(cable.b, 9600, timeout=2) as host:
            host.write(request)
            time.sleep(0.3)
            answer = host.read(host.in_waiting)
        pair = subprocess.Popen([sys.executable, "-c", IDEAL_PAIR, ideal_cable.a, request.hex(),
                                 answer.hex()])
        try:
            time.sleep(0.3)
            ports = [serial.Serial(c.b, 9600, timeout=2) for c in (ideal_cable, cable)]
            try:
                times = [[], []]
                for _ in range(count):
                    for port, taken in zip(ports, times):
                        taken.append(round_trip_ms(port, request, answer))
                    time.sleep(0.002)
                return [taken[count // 10:] for taken in times]
            finally:
                for port in ports:
                    port.close()
        finally:
            pair.kill()
            pair.wait()


def continuous_arrivals(program, work, cycles):
    """Host clock times at which each whole continuous-output text arrived."""
    folder = work / "continuous"
    folder.mkdir()
    write_settings(folder, "0", "0.2", "9600")
    arrivals = []
    with Cable(folder) as cable, serial.Serial(cable.b, 9600, timeout=2) as host, \
            simulator(program, folder, cable.a):
        while len(arrivals) <= cycles:
            text = host.read(len(TEXT))
            assert text == TEXT, f"continuous output {text!r}, expected {TEXT!r}"
            arrivals.append(time.perf_counter())
    return arrivals


def flood(program, work, state, seconds):
    """CPU seconds per wall second and resident memory added, while the host floods the line
    with random bytes at 38400 bit/s and reads whatever comes back; and, for scale, the CPU
    the socat relay spent on the same bytes."""
    folder = work / f"flood-{state}"
    folder.mkdir()
    write_settings(folder, "0" if state == "continuous" else "1", "1", "38400")
    with Cable(folder) as cable, \
            simulator(program, folder, cable.a, headless=state != "stopped") as sim, \
            serial.Serial(cable.b, 38400, timeout=0) as host:
        # Writes never wait: a stopped simulator leaves its input unread, and a full line
        # loses the chunk, as a real line without flow control would. (pyserial's own
        # non-blocking write spins on a full line.)
        os.set_blocking(host.fd, False)
        time.sleep(1.0)  # past start-up work
        pid = sim.process.pid
        cpu0, rss0, wall0 = cpu_seconds(pid), resident_mib(pid), time.monotonic()
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
        cpu, rss = cpu_seconds(pid) - cpu0, resident_mib(pid) - rss0
        relay = cpu_seconds(cable.socat.pid) - relay0
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

        lua_count = 40 if args.quick else 1000
        ideal, fixed, judged = lua_answer_times(args.program, work, lua_count)
        for p in (50, 99):
            report(f"host: ideal responder round trip, p{p} of {len(ideal)}",
                   percentile(ideal, p), "ms")
            report(f"host: fixed-text profile answer beyond the ideal responder, p{p}",
                   percentile(fixed, p) - percentile(ideal, p), "ms", "<= 0.3")
            # The ideal responder is a Python process: on a loaded machine its own tail can
            # be the longer one, and the difference of the p99s below zero.
            report(f"host: answer through {{= }} and a script function, round trip, p{p}",
                   percentile(judged, p), "ms")
            report(f"host: answer through {{= }} and a script function beyond the ideal "
                   f"responder, p{p}", percentile(judged, p) - percentile(ideal, p), "ms",
                   "<= 0.3" if p == 50 else "")

        profiles = Path(__file__).parent.parent.parent / "examples" / "profiles"
        read_ten = bytes.fromhex("01030000000a") + bytes.fromhex("c5cd")  # 10 registers from 0
        for name, file, request in (("SCPI", "scpi-dmm.toml", b"*IDN?;*OPC?;SYST:ERR?\n"),
                                    ("Modbus", "modbus-map.toml", read_ten)):
            ideal, played = protocol_answer_times(args.program, work, lua_count, name.lower(),
                                                  (profiles / file).read_text(), request)
            report(f"host: {name} answer beyond the ideal responder, p50 of {len(played)}",
                   percentile(played, 50) - percentile(ideal, 50), "ms", "<= 0.3")
            report(f"host: {name} answer round trip, p99", percentile(played, 99), "ms")

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
