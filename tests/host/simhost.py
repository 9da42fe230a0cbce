"""The simulator seen from the host's side, for the tests and the figures that watch the line
from outside the program: a socat cable, the program as a process whose output is read as it
comes, hosts that read at their own pace, and exchanges timed as a host waits for them.

The figures put tests/host on sys.path to import this module, as the tests do.
"""
import contextlib
import itertools
import json
import os
import re
import signal
import socket
import subprocess
import sys
import threading
import time
from pathlib import Path

import serial

# The tests' program; the figures name theirs on their command line.
PROGRAM = os.environ.get("KALO_RS232C", "kalo_rs232c")
NO_DISPLAY = {k: v for k, v in os.environ.items()
              if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
STARTED = "通信を開始しました。"
DROPPED = re.compile(r'"\[[^]]*\] 未送信のまま破棄しました: (\d+) バイト'.encode("cp932"))

COMMAND = b"P\r\n"
ANSWER = b"OK\r\n"
# Answers COMMAND with ANSWER at once; target is there for the control socket to set.
ONE_RULE = """[framing]
terminator = "[CR][LF]"
[values.target]
initial = "0"
[[rule]]
match = "P[CR][LF]"
answer = "OK[CR][LF]"
"""
# What no program can beat: answers as soon as the command's last byte is read.
IDEAL = r"""
import os, sys, termios, tty
fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)
tty.setraw(fd)
got = b""
while True:
    got += os.read(fd, 64)
    while b"\r\n" in got:
        _, got = got.split(b"\r\n", 1)
        os.write(fd, b"OK\r\n")
"""


def crc16_modbus(data):
    """The CRC-16 of a Modbus RTU frame, as the two bytes that end it (low first)."""
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.01)


def run_program(*options):
    """The program run to its end without a display: its exit code, output and errors."""
    return subprocess.run([PROGRAM, *options], capture_output=True, text=True, env=NO_DISPLAY,
                          timeout=10)


def record(*fields):
    return b",".join(b'"' + f + b'"' for f in fields) + b"\r\n"


def write_folder(folder, output_type, interval, text=b"99.99", commands=(), answers=()):
    """Settings as the dialog writes them; texts without bracket names, so both files agree."""
    commands = list(commands) + [b""] * (5 - len(commands))
    answers = list(answers) + [b""] * (5 - len(answers))
    folder = Path(folder)
    (folder / "ACSet.txt").write_bytes(record(b"1", b"9600", b"N", b"8", b"1"))
    (folder / "PROTcol.txt").write_bytes(
        record(output_type, interval, text, *answers, *commands))
    (folder / "SOUCHICMD.txt").write_bytes(record(text, *commands, *answers))
    (folder / "ACSet2.txt").write_bytes(record(b"1"))


class Cable:
    """socat pty,raw,echo=0,link=A pty,raw,echo=0,link=B: a null-modem cable whose two ends
    are the paths a and b."""

    def __init__(self, folder):
        self.a, self.b = str(Path(folder) / "A"), str(Path(folder) / "B")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.a}", f"pty,raw,echo=0,link={self.b}"],
            stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(self.a) and os.path.exists(self.b), 5, "socat")

    def close(self):
        self.socat.terminate()
        self.socat.wait(5)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


class Simulator:
    """kalo_rs232c --headless on a folder with the options given, on its virtual port unless
    they name a --port; ready once a line ends with started (the start event's end with
    --events -). Windowed (offscreen, Start not pressed: stopped with the port open) when
    headless is false, ready at once. Standard output and error are read in the background
    into lines and errors, so that neither pipe ever holds the program up; a harness that
    never reads standard output (read_stdout false) reads only the HOST_PORT line."""

    def __init__(self, program, folder, *options, started=STARTED, read_stdout=True,
                 headless=True):
        mode = ["--headless"] + ([] if "--port" in options else ["--virtual-port"])
        env = NO_DISPLAY if headless else {**NO_DISPLAY, "QT_QPA_PLATFORM": "offscreen"}
        self.process = subprocess.Popen(
            [program, *(mode if headless else []), "--folder", str(folder), *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.lines, self.errors, self._closed = [], [], []
        # Woken by each line: a run as short as --duration 0 keeps its port only for moments.
        self._news = threading.Condition()
        self._readers = [self._reader(self.process.stderr, self.errors)]
        if not read_stdout:
            self.lines.append(self.process.stdout.readline().decode().rstrip("\n"))
            ready = lambda: self.lines[0].startswith("HOST_PORT=")  # noqa: E731
        else:
            self._readers.append(self._reader(self.process.stdout, self.lines))
            ready = lambda: not headless or self.said(started)  # noqa: E731
            with self._news:
                self._news.wait_for(lambda: ready() or self.process.stdout in self._closed, 10)
        if not ready():
            try:
                self.wait()  # ended or hung: every line it wrote, and no process left behind
            except subprocess.TimeoutExpired:
                pass
            assert ready(), "the simulator did not start: " + "\n".join(self.errors + self.lines)
        self.host_port = self.value("HOST_PORT")

    def _reader(self, stream, lines):
        def read():
            for line in stream:
                with self._news:
                    lines.append(line.decode(errors="replace").rstrip("\n"))
                    self._news.notify_all()
            with self._news:
                self._closed.append(stream)
                self._news.notify_all()
        thread = threading.Thread(target=read, daemon=True)
        thread.start()
        return thread

    def said(self, ending):
        return any(line.endswith(ending) for line in self.lines)

    def value(self, key):
        found = [line.split("=", 1)[1] for line in self.lines if line.startswith(key + "=")]
        return found[0] if found else None

    def wait(self, timeout=15):
        """The exit code once every line is read; ended: when the process was seen to end.
        A process that outlives the timeout is killed, not left behind."""
        try:
            code = self.process.wait(timeout)
        finally:
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
        self.ended = time.monotonic()
        for reader in self._readers:
            reader.join(5)
        return code

    def stop(self, timeout=15):
        """SIGTERM, then as wait(); stop_seconds: from the signal to the end of the process."""
        asked = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        code = self.wait(timeout)
        self.stop_seconds = self.ended - asked
        return code

    def stop_by(self, signals, timeout=15):
        """Sends the signals in turn, 1 ms apart, until the process has ended; as wait()."""
        for number in itertools.cycle(signals):
            if self.process.poll() is not None:
                break
            self.process.send_signal(number)
            time.sleep(0.001)
        return self.wait(timeout)

    def saved_log(self):
        wait_for(lambda: self.value("LOG_FILE"), 5, "the LOG_FILE line: " + str(self.lines[-5:]))
        return Path(self.value("LOG_FILE")).read_bytes()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if self.process.poll() is None:
            self.stop()


def cpu_seconds(pid):
    stat = Path(f"/proc/{pid}/stat").read_text()
    fields = stat[stat.rindex(")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime


@contextlib.contextmanager
def ideal_responder(device):
    """A process on device that answers as IDEAL does, for as long as the block lasts."""
    process = subprocess.Popen([sys.executable, "-c", IDEAL, device])
    try:
        yield process
    finally:
        process.kill()
        process.wait()


def round_trip_ms(host, command=COMMAND, answer=ANSWER):
    """Milliseconds from writing the command to holding the whole answer."""
    sent = time.perf_counter()
    host.write(command)
    got = host.read(len(answer))
    took = (time.perf_counter() - sent) * 1000
    assert got == answer, f"answer {got!r}, expected {answer!r}"
    return took


def exchange_times(hosts, count, pause=0.002):
    """count round trips on each host in turn, so that all see the same load of a shared
    machine; for each host its milliseconds, less the first tenth, which warm up caches on
    every side."""
    times = [[] for _ in hosts]
    for _ in range(count):
        for host, taken in zip(hosts, times):
            taken.append(round_trip_ms(host))
        time.sleep(pause)
    return [taken[count // 10:] for taken in times]


def converse(port, script, quiet=b" "):
    """Sends each command and notes its answer up to a line feed; a command holding quiet
    (a setting) is answered by nothing, and what came in 0.1 s is noted instead."""
    answers = []
    with serial.Serial(port, 9600, timeout=2) as host:
        for command in script:
            host.write(command)
            if quiet in command:
                time.sleep(0.1)
                answers.append(host.read(host.in_waiting))
            else:
                answers.append(host.read_until(b"\n"))
    return answers


class SlowHost:
    """Reads the host end at about bytes_per_second (None: as fast as it comes) until told to
    stop, then what is left; notes when each write went out and when the last byte came."""

    def __init__(self, port, bytes_per_second=None, baud=9600):
        self.received = bytearray()
        self.wrote, self.last_arrival = [], 0.0  # wrote: (monotonic time, bytes)
        self._port = serial.Serial(port, baud, timeout=0.05)
        self._chunk = max(1, int(bytes_per_second / 20)) if bytes_per_second else 1 << 20
        self._pause = 0.05 if bytes_per_second else 0.002
        self._done = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def write(self, data):
        self.wrote.append((time.monotonic(), data))
        self._port.write(data)

    def _run(self):
        # Only what waits is read: a read that is still collecting when the simulator closes
        # the cable raises and loses what it had collected.
        try:
            while not self._done.is_set():
                self._take(min(self._chunk, self._port.in_waiting))
                time.sleep(self._pause)
            while self._port.in_waiting:
                self._take(self._port.in_waiting)
        except (serial.SerialException, OSError):
            pass  # the simulator closed the cable

    def _take(self, count):
        data = self._port.read(count)
        if data:
            self.received += data
            self.last_arrival = time.monotonic()

    def finish(self):
        self._done.set()
        self._thread.join(30)
        self._port.close()
        return bytes(self.received)


class CountingHost(threading.Thread):
    """A host that reads everything the simulator sends and counts it, until told to stop; at
    the instrument's speed, or it would count the garbage a wrong speed reads."""

    def __init__(self, port, baud=9600):
        super().__init__(daemon=True)
        self.port = serial.Serial(port, baud, timeout=0.1)
        self.received = 0
        self.stopping = False

    def run(self):
        while True:
            try:
                chunk = self.port.read(65536)
            except serial.SerialException:  # the simulator has closed its end
                break
            self.received += len(chunk)
            if self.stopping and not chunk:
                break

    def stop(self):
        self.stopping = True
        self.join(10)
        self.port.close()


def delivered_by_log(saved, text):
    """What the saved log says reached the host: each logged output less each drop."""
    lines = saved.count(b"] " + text + b'"\r\n')
    dropped = sum(int(n) for n in DROPPED.findall(saved))
    return lines * len(text) - dropped, lines, dropped


class Control:
    """A client of the --control socket: one JSON request a line, one reply a line."""

    def __init__(self, path, timeout=5):
        self.socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.socket.settimeout(timeout)
        self.socket.connect(str(path))
        self._lines = self.socket.makefile("rb")

    def ask(self, request):
        """Sends a request (a dict, or the raw bytes of a line) and returns the reply."""
        line = request if isinstance(request, bytes) else json.dumps(request).encode()
        self.socket.sendall(line + b"\n")
        return json.loads(self._lines.readline())

    def close(self):
        self._lines.close()
        self.socket.close()


def read_events(path):
    return [json.loads(line) for line in Path(path).read_bytes().splitlines()]


def wire(events, kind):
    """The bytes of all events of a kind, put together."""
    return bytes.fromhex("".join(e["hex"] for e in events if e["kind"] == kind))


EVENT_KEYS = {
    "start": {"seed", "profile"}, "stop": set(), "received": {"hex", "text"},
    "sent": {"hex", "text"}, "unanswered": {"hex", "text"},
    "answer": {"command_hex", "command_text", "hex", "text", "rule", "faults"},
    "fault": {"rule", "faults", "command_hex"}, "port": {"message"},
    "dropped_output": {"bytes", "device"}, "skipped": {"count"},
    "refused": {"command_hex", "command_text", "hex", "text", "rule", "faults", "reason"},
    "load": {"seed", "profile"}, "log_not_saved": {"message"},
    "line_settings": {"host", "instrument", "agree"}, "host_lines": {"dtr", "rts"},
    "break": {"ms"},
}


def check_events(events):
    """Each event has its kind's keys and no others, version 1, and both clocks."""
    for event in events:
        assert set(event) == {"v", "kind", "t_ns", "time"} | EVENT_KEYS[event["kind"]], event
        assert event["v"] == 1 and event["t_ns"] >= 0, event
        assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}", event["time"]), event


def percentile(values, p):
    """Nearest rank, as the in-process benchmarks take it."""
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * (len(values) - 1) + 0.5))]


def report(name, value, unit, target="", before="", decimals=3):
    print(f"FIGURE|{name}|{value:.{decimals}f}|{unit}|{target}|{before}", flush=True)
