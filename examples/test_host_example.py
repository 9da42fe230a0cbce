"""Host-software testing against the simulator, on a machine without a display or adapter.

The simulator runs headless on a virtual port of its own and plays a meter that answers
"MEAS?<CR>" with "+012.34<CR><LF>"; pyserial plays the host software under test.

    /usr/bin/python3 -m pytest examples/          # KALO_RS232C=path/to/kalo_rs232c
"""
import os
import queue
import signal
import subprocess
import threading
import time
from pathlib import Path

import pytest
import serial

PROGRAM = os.environ.get("KALO_RS232C", "kalo_rs232c")


def record(*fields):
    """One settings record: quoted fields, CR LF, code page 932."""
    return b",".join(b'"' + f.encode("cp932") + b'"' for f in fields) + b"\r\n"


class Simulator:
    """kalo_rs232c --headless on its own virtual port. Its standard output is read to the
    end in the background, so the lines wait here for the test, not in a full pipe."""

    def __init__(self, folder, timeout=10):
        self.process = subprocess.Popen(
            [PROGRAM, "--headless", "--virtual-port", "--folder", str(folder)],
            stdout=subprocess.PIPE, text=True, encoding="utf-8")
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.host_port = self.wait_for("HOST_PORT=", timeout).removeprefix("HOST_PORT=")
        # Commands count from the start line on.
        self.wait_for("通信を開始しました。", timeout)

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))
        self.lines.put(None)

    def wait_for(self, text, timeout):
        """The next line that holds text."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError(f"no {text!r} within {timeout} s") from None
            if line is None:
                raise AssertionError(f"the simulator ended before {text!r}")
            if text in line:
                return line

    def stop(self, timeout=10):
        """Stops as SIGTERM does: the log is saved. Returns the saved log's path."""
        self.process.send_signal(signal.SIGTERM)
        assert self.process.wait(timeout) == 0
        return Path(self.wait_for("LOG_FILE=", timeout).removeprefix("LOG_FILE="))


@pytest.fixture
def simulator(tmp_path):
    # Output on each receive ("1"), pattern 1 only: the texts as typed, then as sent.
    (tmp_path / "ACSet.txt").write_bytes(record("1", "9600", "N", "8", "1"))
    (tmp_path / "PROTcol.txt").write_bytes(
        record("1", "1", "", "+012.34[CR][LF]", "", "", "", "", "MEAS?[CR]", "", "", "", ""))
    (tmp_path / "SOUCHICMD.txt").write_bytes(
        record("", "MEAS?\r", "", "", "", "", "+012.34\r\n", "", "", "", ""))
    sim = Simulator(tmp_path)
    yield sim
    if sim.process.poll() is None:
        sim.process.kill()


def test_meter_answers_one_second_after_the_command(simulator):
    with serial.Serial(simulator.host_port, 9600, timeout=3) as port:
        sent = time.monotonic()
        port.write(b"MEAS?\r")
        answer = port.read(9)
        elapsed = time.monotonic() - sent
    assert answer == b"+012.34\r\n"
    assert 1.0 <= elapsed < 1.5
    assert simulator.wait_for("MEAS?[CR]→", 5).endswith("MEAS?[CR]→+012.34[CR][LF]")

    log_file = simulator.stop()
    assert b"MEAS?\r\x81\xa8+012.34\r\n" in log_file.read_bytes()
