"""A recording set up from outside: a socat cable to a simulated instrument, the program on
either end, and the host's script of commands. Shared by the recording tests and figures."""
import os
import signal
import subprocess
import threading
import time

import serial

from headlesshost import NO_DISPLAY

STARTED = "通信を開始しました。"


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, f"timed out waiting for {what}"
        time.sleep(0.01)


class Cable:
    """socat pty,raw,echo=0,link=A pty,raw,echo=0,link=B: A and B are the two ends."""

    def __init__(self, folder):
        self.a = str(folder / "A")
        self.b = str(folder / "B")
        self.socat = subprocess.Popen(
            ["socat", f"pty,raw,echo=0,link={self.a}", f"pty,raw,echo=0,link={self.b}"],
            stderr=subprocess.DEVNULL)
        wait_for(lambda: os.path.exists(self.a) and os.path.exists(self.b), 5, "socat")

    def close(self):
        self.socat.terminate()
        self.socat.wait(5)


class Program:
    """kalo_rs232c --headless with the options given, its standard output read as it comes.
    Ready once it says it communicates; host_port is its virtual port's host end, if any."""

    def __init__(self, program, folder, *options):
        self.process = subprocess.Popen(
            [program, "--headless", "--folder", str(folder), *options],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=NO_DISPLAY)
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        wait_for(lambda: any(line.endswith(STARTED) for line in self.lines)
                 or self.process.poll() is not None, 10, "the start line")
        assert self.process.poll() is None, self.process.stderr.read().decode()
        self.host_port = self.value("HOST_PORT")

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode().rstrip("\n"))

    def value(self, key):
        found = [line.split("=", 1)[1] for line in self.lines if line.startswith(key + "=")]
        return found[0] if found else None

    def stop(self):
        """SIGTERM, then the exit code once every line is read."""
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(15)
        self._reader.join(5)
        return code


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
