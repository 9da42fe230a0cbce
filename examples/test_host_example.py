"""Host-software testing against the simulator, on a machine without a display or adapter.

The simulator runs headless on a virtual port of its own and plays a meter that answers
"MEAS?<CR>" with "+012.34<CR><LF>"; pyserial plays the host software under test.

    /usr/bin/python3 -m pytest examples/          # KALO_RS232C=path/to/kalo_rs232c
"""
import os
import signal
import subprocess
import time

import pytest
import serial

PROGRAM = os.environ.get("KALO_RS232C", "kalo_rs232c")


def record(*fields):
    """One settings record: quoted fields, CR LF, code page 932."""
    return b",".join(b'"' + f.encode("cp932") + b'"' for f in fields) + b"\r\n"


@pytest.fixture
def simulator(tmp_path):
    # Output on each receive ("1"), pattern 1 only: the texts as typed, then as sent.
    (tmp_path / "ACSet.txt").write_bytes(record("1", "9600", "N", "8", "1"))
    (tmp_path / "PROTcol.txt").write_bytes(
        record("1", "1", "", "+012.34[CR][LF]", "", "", "", "", "MEAS?[CR]", "", "", "", ""))
    (tmp_path / "SOUCHICMD.txt").write_bytes(
        record("", "MEAS?\r", "", "", "", "", "+012.34\r\n", "", "", "", ""))
    sim = subprocess.Popen([PROGRAM, "--headless", "--virtual-port", "--folder", str(tmp_path)],
                           stdout=subprocess.PIPE, text=True, encoding="utf-8")
    host_port = sim.stdout.readline().strip().removeprefix("HOST_PORT=")
    # Commands count from the start line on.
    for line in sim.stdout:
        if line.rstrip().endswith("通信を開始しました。"):
            break
    yield sim, host_port
    if sim.poll() is None:
        sim.kill()


def test_meter_answers_one_second_after_the_command(simulator):
    sim, host_port = simulator
    with serial.Serial(host_port, 9600, timeout=3) as port:
        sent = time.monotonic()
        port.write(b"MEAS?\r")
        answer = port.read(9)
        elapsed = time.monotonic() - sent
    assert answer == b"+012.34\r\n"
    assert 1.0 <= elapsed < 1.5

    sim.send_signal(signal.SIGTERM)
    rest = sim.communicate(timeout=10)[0].splitlines()
    assert sim.returncode == 0
    assert rest[0].endswith("MEAS?[CR]→+012.34[CR][LF]")
    assert rest[-1].startswith("LOG_FILE=")
    assert b"MEAS?\r\x81\xa8+012.34\r\n" in open(rest[-1][len("LOG_FILE="):], "rb").read()
