"""The headless program as a separate process, with no display in its environment and a
pyserial host on its virtual port."""
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest
import serial

PROGRAM = os.environ["KALO_RS232C"]
GOLDEN = Path(__file__).parent / "golden"
NO_DISPLAY = {k: v for k, v in os.environ.items()
              if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
STARTED = "通信を開始しました。"


def start(folder, *options):
    return subprocess.Popen([PROGRAM, "--headless", "--folder", str(folder), *options],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=NO_DISPLAY,
                            text=True, encoding="utf-8")


def read_until_started(sim):
    lines = []
    while not lines or not lines[-1].endswith(STARTED):
        line = sim.stdout.readline()
        assert line, sim.stderr.read()
        lines.append(line.rstrip("\n"))
    return lines


def saved_form(shown):
    """The bytes a saved log holds for a line as standard output shows it."""
    raw = shown.replace("[CR]", "\r").replace("[LF]", "\n").replace("[ACK]", "\x06")
    return b'"' + raw.encode("cp932") + b'"\r\n'


def files(folder):
    return {p: p.read_bytes() for p in Path(folder).rglob("*") if p.is_file()}


def test_first_start_sends_defaults_until_duration_ends(tmp_path):
    sim = start(tmp_path, "--virtual-port", "--duration", "3.5")
    lines = read_until_started(sim)
    assert lines[0].startswith("HOST_PORT=")
    # One a second; the stop at 3.5 s sends nothing more.
    cycles = 3
    with serial.Serial(lines[0][len("HOST_PORT="):], 9600, timeout=8) as host:
        received = host.read(len(b"99.99") * cycles)
    out, err = sim.communicate(timeout=15)
    assert sim.returncode == 0, err
    lines += out.splitlines()
    assert received == b"99.99" * cycles
    assert len([line for line in lines if line.endswith("] 99.99")]) == cycles
    assert lines[-2].endswith("通信を停止しました。") and lines[-1].startswith("LOG_FILE=")
    for name in ("ACSet.txt", "PROTcol.txt", "SOUCHICMD.txt", "ACSet2.txt"):
        assert (tmp_path / name).read_bytes() == (GOLDEN / name).read_bytes(), name


def test_sigterm_saves_the_exchange_byte_exact(tmp_path):
    (tmp_path / "PROTcol.txt").write_bytes((GOLDEN / "PROTcol.txt").read_bytes().replace(b'"0"', b'"1"', 1))
    (tmp_path / "SOUCHICMD.txt").write_bytes((GOLDEN / "SOUCHICMD.txt").read_bytes())
    sim = start(tmp_path, "--virtual-port")
    lines = read_until_started(sim)
    with serial.Serial(lines[0][len("HOST_PORT="):], 9600, timeout=3) as host:
        sent = time.monotonic()
        host.write(b"ABC+\r+\n")
        assert host.read(7) == b"4569.12"
        assert time.monotonic() - sent >= 1.0
        lines.append(sim.stdout.readline().rstrip("\n"))
        assert lines[-1].endswith("] ABC+[CR]+[LF]→4569.12")
    sim.send_signal(signal.SIGTERM)
    lines += sim.communicate(timeout=10)[0].splitlines()
    assert sim.returncode == 0
    log_file = Path(lines[-1].removeprefix("LOG_FILE="))
    assert log_file.is_absolute() and re.fullmatch(r"\d{8}-1\.txt", log_file.name)
    assert log_file.read_bytes() == b"".join(saved_form(line) for line in lines[1:-1])
    assert not (tmp_path / "ACSet.txt").exists()  # a folder with settings keeps them as they are


@pytest.mark.parametrize("options, held, code, told", [
    (["--bogus"], False, 2, ["bogus", "usage:"]),
    (["--duration", "abc"], False, 2, ["--duration", "abc", "usage:"]),
    (["--port", "/nonexistent/ttyK"], False, 1, ["/nonexistent/ttyK", "No such file or directory"]),
    (["--virtual-port"], True, 1, ["既に起動されています"]),
])
def test_bad_start_says_why_and_changes_nothing(tmp_path, options, held, code, told):
    holder = start(tmp_path, "--virtual-port") if held else None
    if holder:
        read_until_started(holder)
    before = files(tmp_path)
    sim = start(tmp_path, *options)
    err = sim.communicate(timeout=10)[1]
    after = files(tmp_path)
    if holder:
        holder.send_signal(signal.SIGTERM)
        holder.communicate(timeout=10)
    assert sim.returncode == code
    assert all(text in err for text in told), err
    assert after == before
