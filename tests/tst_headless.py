"""The headless program as a separate process, with no display in its environment and a
pyserial host on its virtual port."""
import fcntl
import json
import os
import pty
import re
import signal
import socket
import struct
import subprocess
import termios
import threading
import time
from pathlib import Path

import pytest
import serial

from simhost import (NO_DISPLAY, PROGRAM, CountingHost, Simulator, round_trip_ms, run_program,
                     wait_for, write_folder)

GOLDEN = Path(__file__).parent / "golden"


def saved_form(shown):
    """The bytes a saved log holds for a line as standard output shows it (these lines hold no
    "[" of their own): control characters by the same names, a quote as [x22]."""
    return b'"' + shown.replace('"', "[x22]").replace("[DEL]", "[x7F]").encode("cp932") + b'"\r\n'


def files(folder):
    """What a folder holds: the bytes of its files, where its links point, its sockets."""
    return {p: os.readlink(p) if p.is_symlink() else p.read_bytes() if p.is_file() else
            p.is_socket() for p in Path(folder).rglob("*") if not p.is_dir()}


def test_first_start_sends_defaults_until_duration_ends(tmp_path):
    folder = tmp_path / "made"  # a --folder that does not exist yet is made
    sim = Simulator(PROGRAM, folder, "--duration", "3.5")
    # One a second; the stop at 3.5 s sends nothing more.
    cycles = 3
    with serial.Serial(sim.host_port, 9600, timeout=8) as host:
        received = host.read(len(b"99.99") * cycles)
    assert sim.wait(15) == 0, sim.errors
    lines = sim.lines
    assert lines[0].startswith("HOST_PORT=")
    assert received == b"99.99" * cycles
    assert len([line for line in lines if line.endswith("] 99.99")]) == cycles
    assert lines[-3].endswith("通信を停止しました。") and lines[-2].startswith("LOG_FILE=")
    assert lines[-1] == "COUNTS=commands_seen=0 answered=0 dropped=0 bytes_in=0 bytes_out=15 refused=0"
    for name in ("ACSet.txt", "PROTcol.txt", "SOUCHICMD.txt", "ACSet2.txt"):
        assert (folder / name).read_bytes() == (GOLDEN / name).read_bytes(), name


# A stop signal goes on arriving while the run saves and exits: it changes nothing.
@pytest.mark.parametrize("signals", [[signal.SIGTERM], [signal.SIGHUP], [signal.SIGQUIT],
                                     [signal.SIGUSR1, signal.SIGUSR2, signal.SIGINT]])
def test_a_stop_signal_saves_the_exchange_byte_exact(tmp_path, signals):
    (tmp_path / "PROTcol.txt").write_bytes((GOLDEN / "PROTcol.txt").read_bytes().replace(b'"0"', b'"1"', 1))
    (tmp_path / "SOUCHICMD.txt").write_bytes((GOLDEN / "SOUCHICMD.txt").read_bytes())
    sim = Simulator(PROGRAM, tmp_path)
    lines = sim.lines
    with serial.Serial(sim.host_port, 9600, timeout=3) as host:
        at = len(lines)
        assert round_trip_ms(host, b"ABC+\r+\n", b"4569.12") >= 1000
        wait_for(lambda: len(lines) > at, 5, "the exchange's line")
        assert lines[at].endswith("] ABC+[CR]+[LF]→4569.12")
    assert sim.stop_by(signals) == 0
    assert lines[-1] == "COUNTS=commands_seen=1 answered=1 dropped=0 bytes_in=7 bytes_out=7 refused=0"
    log_file = Path(lines[-2].removeprefix("LOG_FILE="))
    assert log_file.is_absolute() and re.fullmatch(r"\d{8}-1\.txt", log_file.name)
    assert log_file.read_bytes() == b"".join(saved_form(line) for line in lines[1:-2])
    assert not (tmp_path / "ACSet.txt").exists()  # a folder with settings keeps them as they are


def read_only(folder):
    """The folder on a read-only file system; root writes through permission bits."""
    if os.geteuid() != 0:
        folder.chmod(0o555)
        return lambda: folder.chmod(0o755)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", str(folder)],
                      stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("no read-only file system can be mounted here")
    return lambda: subprocess.run(["umount", str(folder)], check=True)


def listening(folder):
    server = socket.socket(socket.AF_UNIX)
    server.bind(str(folder / "x"))
    server.listen()
    return server.close


def of_nobody(name, kind):
    """A link to a root-only file, a file all may write or a stale socket, as another user
    would put them at name."""
    def prepare(folder):
        if os.geteuid() != 0:
            pytest.skip("only root can give a file to another user")
        (folder / "secret").write_text("root only")
        path = folder / name
        if kind == "link":
            path.symlink_to(folder / "secret")
        elif kind == "file":
            path.write_text("theirs")
            path.chmod(0o666)
        else:
            listening(folder)()
        os.lchown(path, 65534, 65534)
    return prepare


def live_pty(folder):
    master, slave = pty.openpty()
    (folder / "x").symlink_to(os.ttyname(slave))
    return lambda: (os.close(master), os.close(slave))


def others_may_write(folder):
    (folder / "secret").write_text("mine")
    (folder / "x").symlink_to(folder / "secret")
    folder.chmod(0o1777)
    return lambda: folder.chmod(0o700)


# {x} is a path in the folder, {long} one a byte longer than a socket address takes.
@pytest.mark.parametrize("options, prepare, code, told", [
    ("--bogus", None, 2, ["bogus", "Usage:"]),
    ("--duration abc", None, 2, ["--duration", "abc", "Usage:"]),
    ("--port /dev/null --host-link x", None, 2, ["--host-link", "--virtual-port"]),
    ("--virtual-port --record /dev/null --control x", None, 2, ["--control"]),
    ("--port /nonexistent/ttyK", None, 1, ["/nonexistent/ttyK", "No such file or directory"]),
    ("--virtual-port --folder {x}/y", None, 1, ["{x}/y", "parent", "does not exist"]),
    ("--virtual-port", lambda d: Simulator(PROGRAM, d).stop, 1, ["既に起動されています"]),
    ("--virtual-port", read_only, 1, ["kalo_rs232c.lock", "cannot be made"]),
    ("--virtual-port", lambda d: (d / "LogData").write_bytes(b"x"), 1, ["LogData", "in the way"]),
    ("--virtual-port --control {x}", lambda d: (d / "x").write_text("mine"), 1, ["no socket"]),
    ("--virtual-port --control {x}", listening, 1, ["listens"]),
    ("--virtual-port --control {long}", None, 1, ["at most 107"]),
    ("--virtual-port --host-link {x}", lambda d: (d / "x").write_text("mine"), 1,
     ["no link to a pseudo-terminal"]),
    ("--virtual-port --host-link {x}", lambda d: (d / "x").symlink_to("/dev/null"), 1,
     ["no link to a pseudo-terminal"]),
    ("--virtual-port --host-link {x}", live_pty, 1, ["holds open"]),
    ("--virtual-port --events {x}", others_may_write, 1, ["/x: a symbolic link in", "others"]),
    ("--virtual-port --events {x}", of_nobody("x", "link"), 1,
     ["/x: a symbolic link owned by another user"]),
    ("--virtual-port --events {x}", of_nobody("x", "file"), 1, ["/x: belongs to another user"]),
    ("--virtual-port", of_nobody("LogData", "link"), 1,
     ["LogData: a symbolic link owned by another user"]),
    ("--virtual-port --control {x}", of_nobody("x", "socket"), 1, ["/x: belongs to another user"]),
    ("--virtual-port --record /dev/null", of_nobody("Recorded.toml", "link"), 1,
     ["Recorded.toml: belongs to another user"]),
])
def test_bad_start_says_why_and_changes_nothing(tmp_path, options, prepare, code, told):
    undo = prepare(tmp_path) if prepare else None
    options = options.format(x=tmp_path / "x", long=tmp_path / ("x" * (107 - len(str(tmp_path)))))
    try:
        before = files(tmp_path)
        # Without --duration a run that is not refused would go on past the timeout.
        result = run_program("--headless", "--folder", str(tmp_path), *options.split())
        after = files(tmp_path)
    finally:
        if callable(undo):
            undo()
    assert result.returncode == code
    told = [text.format(x=tmp_path / "x") for text in told]
    assert all(text in result.stderr for text in told), result.stderr
    assert result.stdout == ""
    assert after == before


def pipe_pending(pipe):
    return struct.unpack("i", fcntl.ioctl(pipe.fileno(), termios.FIONREAD, b"\0" * 4))[0]


def test_a_harness_that_never_reads_stdout_holds_up_nothing(tmp_path):
    write_folder(tmp_path, b"0", b"0")
    # Our own copy of the pipe's write end shows the flags the program leaves behind.
    read_end, write_end = os.pipe()
    # A flood at memory speed, not at the line's.
    sim = subprocess.Popen([PROGRAM, "--headless", "--virtual-port", "--pace", "none", "--folder",
                            str(tmp_path)],
                           stdout=write_end, stderr=subprocess.PIPE, env=NO_DISPLAY, text=True)
    stdout = os.fdopen(read_end, encoding="utf-8")
    host = CountingHost(stdout.readline().rstrip("\n").removeprefix("HOST_PORT="))
    host.start()

    # Full: the pipe holds what it can and takes no more, while the host is still served.
    def pipe_full():
        pending = pipe_pending(stdout)
        time.sleep(0.3)
        return pending > 0 and pending == pipe_pending(stdout)
    wait_for(pipe_full, 30, "standard output never filled")
    # Well past the 1 MiB queue of ~28-byte lines: skipping has begun.
    full_at = host.received
    wait_for(lambda: host.received - full_at > 5 * 60_000, 60, "output stopped with stdout full")

    sim.send_signal(signal.SIGTERM)
    rest = []
    reader = threading.Thread(target=lambda: rest.append(stdout.read()))
    reader.start()
    assert sim.wait(15) == 0, sim.stderr.read()
    host.stop()
    assert os.get_blocking(write_end)
    os.close(write_end)
    reader.join(10)
    lines = rest[0].splitlines()
    skips = [int(line.split("=")[1]) for line in lines if line.startswith("LOG_LINES_SKIPPED=")]
    assert skips and all(n > 0 for n in skips)
    assert lines[-2].startswith("LOG_FILE=") and lines[-1].startswith("COUNTS=")
    # The saved log has every line, each shown one in its place between the skipped ones.
    saved = Path(lines[-2].removeprefix("LOG_FILE=")).read_bytes().split(b"\r\n")[:-1]
    at = 0
    for line in lines[:-2]:
        if line.startswith("LOG_LINES_SKIPPED="):
            at += int(line.split("=")[1])
        else:
            assert saved_form(line) == saved[at] + b"\r\n", line
            at += 1
    assert at == len(saved)


def test_a_harness_that_closes_stdout_loses_only_the_output(tmp_path):
    write_folder(tmp_path, b"0", b"0")
    sim = Simulator(PROGRAM, tmp_path, "--duration", "1", "--pace", "none", read_stdout=False)
    host = CountingHost(sim.host_port)
    host.start()
    sim.process.stdout.close()
    assert sim.wait(15) == 0, sim.errors
    host.stop()
    saved = next((tmp_path / "LogData").iterdir()).read_bytes().split(b"\r\n")[:-1]
    assert saved[-1].endswith("通信を停止しました。\"".encode("cp932"))
    # Enough lines went on after the reader left to have met its absence many times.
    assert sum(line.endswith(b'] 99.99"') for line in saved) > 1000


@pytest.fixture
def small_disk(tmp_path):
    """A 64 KiB file system at tmp_path / "small"."""
    disk = tmp_path / "small"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(disk)],
                      stderr=subprocess.DEVNULL).returncode != 0:
        pytest.skip("no small file system can be mounted here")
    yield disk
    subprocess.run(["umount", str(disk)], check=True)


# What the small disk holds: the events, or the folder whose log is saved there at the end.
@pytest.mark.parametrize("events, folder, told", [
    ("small/events.jsonl", "", "the events cannot be written: {tmp}/small/events.jsonl: No space"),
    ("events.jsonl", "small", "the log cannot be saved: {tmp}/small/LogData/"),
])
def test_a_full_disk_fails_the_run_out_loud(tmp_path, small_disk, events, folder, told):
    # All but a few KiB taken (the log's folder gets its settings files first): a few seconds
    # of reads at 9600 baud fill it.
    (small_disk / "filler").write_bytes(b"\0" * (40_000 if folder else 56_000))
    sim = Simulator(PROGRAM, tmp_path / folder, "--events", str(tmp_path / events))
    with serial.Serial(sim.host_port, 9600) as host:
        for _ in range(30):
            host.write(b"R" * 200)
            time.sleep(0.002)
        wait_for(lambda: sum(line.count("R") for line in sim.lines[1:]) >= 6000, 30, "the reads")
    assert sim.stop() == 1
    assert len(sim.errors) == 1 and told.format(tmp=tmp_path) in sim.errors[0], sim.errors
    written = (tmp_path / events).read_bytes()
    assert written.endswith(b"\n") and b'"kind":"received"' in written
    # A save that failed leaves nothing half written behind.
    assert not list(small_disk.rglob(".*"))
    if not folder:
        assert "書き込めませんでした: ".encode("cp932") in sim.saved_log()
    else:  # the stream is where the log's loss can still be told
        assert json.loads(written.splitlines()[-1])["kind"] == "log_not_saved"


def test_a_stop_while_the_events_fifo_waits_for_its_reader_is_served_at_once(tmp_path):
    os.mkfifo(tmp_path / "events")
    sim = subprocess.Popen([PROGRAM, "--headless", "--virtual-port", "--folder", str(tmp_path),
                            "--events", str(tmp_path / "events")], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=NO_DISPLAY, text=True)
    time.sleep(0.5)
    asked = time.monotonic()
    sim.send_signal(signal.SIGTERM)
    out, err = sim.communicate(timeout=10)
    assert time.monotonic() - asked < 2 and sim.returncode == 0, err
    assert "stopped while waiting for a reader" in err and "LOG_FILE=" in out


def test_a_dead_runs_link_to_a_pty_made_since_is_replaced(tmp_path):
    master, slave = pty.openpty()
    name = os.ttyname(slave)
    os.close(master), os.close(slave)
    (tmp_path / "link").symlink_to(name)
    time.sleep(0.05)  # file times move in steps of a few ms
    # The number is given to the next pty: another terminal, not the run that made the link.
    master, slave = pty.openpty()
    try:
        if os.ttyname(slave) != name:
            pytest.skip("the system gave the next pty another number")
        result = run_program("--headless", "--virtual-port", "--folder", str(tmp_path),
                             "--host-link", str(tmp_path / "link"), "--duration", "0")
    finally:
        os.close(master), os.close(slave)
    assert result.returncode == 0, result.stderr


def test_events_go_through_links_of_ours_and_descriptors_into_files_only_we_read(tmp_path):
    (tmp_path / "ours").symlink_to(tmp_path / "events.jsonl")
    os.umask(saved := os.umask(0))
    try:
        for events in ("ours", "/dev/stdout"):
            with open(tmp_path / "out", "w") as out:
                result = subprocess.run([PROGRAM, "--headless", "--virtual-port", "--folder",
                                         str(tmp_path), "--events", str(tmp_path / events),
                                         "--duration", "0"], stdout=out, env=NO_DISPLAY)
            assert result.returncode == 0
    finally:
        os.umask(saved)
    made = [tmp_path / "events.jsonl", *(tmp_path / "LogData").iterdir()]
    assert [p.stat().st_mode & 0o777 for p in made] == [0o600] * 3
    for written in ("events.jsonl", "out"):
        assert b'"kind":"stop"' in (tmp_path / written).read_bytes()
