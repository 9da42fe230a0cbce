"""A headless simulator on its virtual port, and a host that reads it at its own pace.

Shared by the tests and the figures that watch the line from outside the program.
"""
import os
import re
import signal
import subprocess
import threading
import time
from pathlib import Path

import serial

NO_DISPLAY = {k: v for k, v in os.environ.items()
              if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
DROPPED = re.compile(r'"\[[^]]*\] 未送信のまま破棄しました: (\d+) バイト'.encode("cp932"))


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


class Simulator:
    """kalo_rs232c --headless --virtual-port on a folder; stdout is read in the background
    unless read_stdout is false (a harness that never reads it)."""

    def __init__(self, program, folder, *options, read_stdout=True):
        self.process = subprocess.Popen(
            [program, "--headless", "--virtual-port", "--folder", str(folder), *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=NO_DISPLAY)
        first = self.process.stdout.readline().decode()
        assert first.startswith("HOST_PORT="), first + self.process.stderr.read().decode()
        self.host_port = first.strip().split("=", 1)[1]
        self.lines = []
        if read_stdout:
            threading.Thread(target=self._read, daemon=True).start()
            self.wait_for_line("通信を開始しました。")

    def wait_for_line(self, ending, timeout=5):
        deadline = time.monotonic() + timeout
        while not any(line.endswith(ending) for line in self.lines):
            assert time.monotonic() < deadline, "\n".join(self.lines)
            time.sleep(0.005)

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode().rstrip("\n"))

    def stop(self, timeout=10):
        """SIGTERM; returns the seconds until the process ended."""
        asked = time.monotonic()
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout)
        return time.monotonic() - asked

    def saved_log(self):
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            for line in self.lines:
                if line.startswith("LOG_FILE="):
                    return Path(line.split("=", 1)[1]).read_bytes()
            time.sleep(0.01)
        raise AssertionError("no LOG_FILE line: " + "\n".join(self.lines[-5:]))


class SlowHost:
    """Reads the host end at about bytes_per_second until told to stop, then what is left."""

    def __init__(self, port, bytes_per_second):
        self.received = bytearray()
        self._port = serial.Serial(port, 9600, timeout=0.05)
        self._chunk = max(1, int(bytes_per_second / 20))
        self._done = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        # Only what waits is read: a read that is still collecting when the simulator closes
        # the cable raises and loses what it had collected.
        try:
            while not self._done.is_set():
                self.received += self._port.read(min(self._chunk, self._port.in_waiting))
                time.sleep(0.05)
            while self._port.in_waiting:
                self.received += self._port.read(self._port.in_waiting)
        except (serial.SerialException, OSError):
            pass  # the simulator closed the cable

    def finish(self):
        self._done.set()
        self._thread.join(10)
        self._port.close()
        return bytes(self.received)


def delivered_by_log(saved, text):
    """What the saved log says reached the host: each logged output less each drop."""
    lines = saved.count(b"] " + text + b'"\r\n')
    dropped = sum(int(n) for n in DROPPED.findall(saved))
    return lines * len(text) - dropped, lines, dropped
