"""Flow control as the instrument keeps it, seen from a host on the far end of the virtual
port: the host's XOFF stops the instrument within two byte times and its XON lets it go on;
the instrument sends XOFF and XON itself around its receive buffer, loses what a host that
ignores them sends past it, and under --exec holds CTS down while full and waits while the
host's RTS is down."""
import json
import os
import select
import subprocess
import sys
import time

import pytest
import serial

from simhost import PROGRAM, Simulator, read_events, write_folder

XON, XOFF = b"\x11", b"\x13"
BYTE_S = 10 / 9600


def instrument(tmp_path, flow):
    """Q CR answered by A CR after 300 ms, a receive buffer of 32 bytes, and ten digits of
    continuous output every 50 ms, at 9600 8N1."""
    write_folder(tmp_path, b"1", b"1")
    profile = tmp_path / "flow.toml"
    profile.write_text(f'[line]\nspeed = 9600\nflow = "{flow}"\nbuffer = 32\n'
                       '[framing]\nterminator = "[CR]"\n'
                       '[[rule]]\nmatch = "Q[CR]"\nanswer = "A[CR]"\ndelay_ms = 300\n'
                       '[continuous]\ntext = "0123456789"\ninterval = 0.05\nenabled = true\n')
    return ["--profile", str(profile), "--events", str(tmp_path / "events.jsonl")]


def arrivals(fd, seconds):
    got, end = [], time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([fd], [], [], 0.005)[0]:
            got.append((time.monotonic(), os.read(fd, 4096)))
    return got


def printed(stdout):
    """The JSON object a host printed, among the program's own lines (which may follow it on
    the same line)."""
    line = next(line for line in stdout.decode().splitlines() if line.startswith("{"))
    return json.JSONDecoder().raw_decode(line)[0]


def events(tmp_path, kind):
    return [e for e in read_events(tmp_path / "events.jsonl") if e["kind"] == kind]


@pytest.mark.parametrize("flow", ["xonxoff", "none"])
def test_the_host_s_xoff_stops_the_instrument_until_its_xon(tmp_path, flow):
    sim = Simulator(PROGRAM, tmp_path, *instrument(tmp_path, flow))
    with serial.Serial(sim.host_port, 9600, timeout=0) as host:
        arrivals(host.fd, 0.2)
        stopped = time.monotonic()
        host.write(XOFF)
        held = arrivals(host.fd, 0.4)
        host.write(XON)
        going = arrivals(host.fd, 0.2)
    sim.stop()
    # Two byte times, and a few milliseconds for a host process that a loaded machine lets
    # read late.
    late = [len(d) for t, d in held if t > stopped + 2 * BYTE_S + 0.010]
    received = b"".join(bytes.fromhex(e["hex"]) for e in events(tmp_path, "received"))
    if flow == "none":  # XOFF and XON are data like any other
        assert sum(late) > 50 and received == XOFF + XON
        return
    assert late == [], held
    assert sum(len(d) for _, d in going) > 20
    assert received == b""  # the instrument's UART keeps them to itself


def test_the_instrument_asks_the_host_to_wait_and_loses_what_a_host_sends_past_its_buffer(
        tmp_path):
    sim = Simulator(PROGRAM, tmp_path, *instrument(tmp_path, "xonxoff"))
    with serial.Serial(sim.host_port, 9600, timeout=0) as host:
        host.write(b"Q\r" * 20)  # 40 bytes into 32, XOFF ignored
        came = b"".join(d for _, d in arrivals(host.fd, 1.0))
    sim.stop()
    # XOFF at three quarters full, XON once a quarter is left, each slipped in at the next
    # byte boundary; 16 commands answered.
    came = bytes(b for b in came if b not in b"0123456789")
    assert bytes(b for b in came if b in XON + XOFF) == XOFF + XON, came
    assert came.replace(XON, b"").replace(XOFF, b"") == b"A\r" * 16, came
    flows = [(e["signal"], e["buffer"]) for e in events(tmp_path, "flow")]
    assert flows == [("XOFF", 32), ("XON", 32)]
    lost = b"".join(bytes.fromhex(e["hex"]) for e in events(tmp_path, "overrun"))
    assert lost == b"Q\r" * 4
    logged = "".join(line.split("受信: ", 1)[1] for line in sim.lines if "あふれで失った受信" in line)
    assert logged == "Q[CR]" * 4, sim.lines


# Under --exec: with RTS down nothing comes; 28 bytes into 32 drop CTS until answered.
RTS_HOST = r"""
import fcntl, json, os, select, struct, sys, termios, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
a = termios.tcgetattr(fd)
a[0] = a[1] = a[3] = 0
a[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
a[4] = a[5] = termios.B9600
a[6][termios.VMIN] = a[6][termios.VTIME] = 0
termios.tcsetattr(fd, termios.TCSANOW, a)
def cts():
    bits = struct.unpack("i", fcntl.ioctl(fd, termios.TIOCMGET, struct.pack("i", 0)))[0]
    return bool(bits & termios.TIOCM_CTS)
def rts(up):
    fcntl.ioctl(fd, termios.TIOCMBIS if up else termios.TIOCMBIC, struct.pack("i", termios.TIOCM_RTS))
def take(seconds):
    got, end = b"", time.monotonic() + seconds
    while time.monotonic() < end:
        if select.select([fd], [], [], 0.01)[0]:
            got += os.read(fd, 4096)
    return got
rts(False)
take(0.05)
held = len(take(0.3))
rts(True)
going = len(take(0.3))
os.write(fd, b"Q\r" * 14)
time.sleep(0.1)
full = cts()
answers = take(0.6).count(b"A\r")
print(json.dumps({"held": held, "going": going, "cts": [full, cts()], "answers": answers}))
"""


def test_under_exec_rts_holds_the_instrument_and_a_full_buffer_drops_cts(tmp_path):
    options = instrument(tmp_path, "rtscts")
    run = subprocess.run([PROGRAM, "--headless", "--folder", str(tmp_path), *options, "--exec",
                          "--", sys.executable, "-c", RTS_HOST, "/dev/ttyUSB0"],
                         capture_output=True, timeout=30)
    assert run.returncode == 0, run
    seen = printed(run.stdout)
    assert seen["held"] == 0 and seen["going"] > 50, seen
    assert seen["cts"] == [False, True] and seen["answers"] == 14, seen
    flows = [(e["signal"], e["fill"] >= 24) for e in events(tmp_path, "flow")]
    assert flows == [("CTS off", True), ("CTS on", False)]


# A host under --exec at 9600 8N1 with the input flags given asks the control channel for AB,
# a break of 100 ms and CD, and prints what it read and how long the line was busy before C.
BREAK_HOST = r"""
import json, os, select, socket, sys, termios, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
a = termios.tcgetattr(fd)
a[0], a[1], a[3] = sum(getattr(termios, f) for f in sys.argv[3:]), 0, 0
a[2] = termios.CS8 | termios.CREAD | termios.CLOCAL
a[4] = a[5] = termios.B9600
a[6][termios.VMIN] = a[6][termios.VTIME] = 0
termios.tcsetattr(fd, termios.TCSANOW, a)
while not os.path.exists(sys.argv[2]):
    time.sleep(0.01)
control = socket.socket(socket.AF_UNIX)
control.connect(sys.argv[2])
for request in ('{"cmd": "send", "text": "AB"}', '{"cmd": "break", "ms": 100}',
                '{"cmd": "send", "text": "CD"}'):
    control.sendall(request.encode() + b"\n")
    control.recv(100)
got, times, end = b"", {}, time.monotonic() + 0.6
while time.monotonic() < end:
    if select.select([fd], [], [], 0.005)[0]:
        data = os.read(fd, 100)
        for b in data:
            times.setdefault(b, time.monotonic())
        got += data
print(json.dumps({"hex": got.hex(), "busy_ms": 1000 * (times[ord("C")] - times[ord("B")])}))
"""


@pytest.mark.parametrize("flags, expected", [
    ([], "4142004344"),                    # a zero with a framing error
    (["IGNBRK"], "41424344"),              # nothing
    (["PARMRK"], "4142ff00004344"),        # marked
])
def test_a_break_toward_the_host_reaches_it_as_its_uart_reports_one(tmp_path, flags, expected):
    control = tmp_path / "control"
    run = subprocess.run([PROGRAM, "--headless", "--folder", str(tmp_path), *instrument(tmp_path, "none"),
                          "--control", str(control), "--exec", "--", sys.executable, "-c",
                          BREAK_HOST, "/dev/ttyUSB0", str(control), *flags],
                         capture_output=True, timeout=30)
    assert run.returncode == 0, run
    seen = printed(run.stdout)
    assert bytes(b for b in bytes.fromhex(seen["hex"]) if b not in b"0123456789").hex() == expected
    assert 95 <= seen["busy_ms"] < 200, seen
    assert [e["ms"] for e in events(tmp_path, "break_sent")] == [100]
