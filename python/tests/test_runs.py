"""Runs of the program as it is driven through Simulator and the kalo fixture."""
import gc
import os
import re
import time

import pytest
import serial

from package_paths import EXAMPLE, PROFILES
from kalo_rs232c import (ProfileRefused, ProgramNotFound, Simulator, SimulatorError,
                         SimulatorExited, SimulatorTimeout, find_program)


def saved_lines(log_file):
    return [line[1:-1] for line in log_file.read_bytes().decode("cp932").split("\r\n") if line]


def test_a_run_on_defaults_streams_its_text_and_saves_what_it_printed():
    with Simulator() as sim:
        with serial.Serial(sim.port, 9600, timeout=3) as host:
            assert host.read(10) == b"99.99" * 2
    assert sim.log_file.parent == sim.folder / "LogData"
    assert saved_lines(sim.log_file) == sim.lines
    assert sim.lines[-1].endswith("通信を停止しました。")


def test_a_run_with_a_duration_ends_by_itself_with_its_log():
    sim = Simulator(duration=1.5).start()
    assert sim.wait(timeout=10).exists() and sim.returncode == 0
    assert sum(line.endswith("] 99.99") for line in sim.lines) == 1


@pytest.mark.kalo(settings={"continuous": False, "patterns": [("MEAS?[CR]", "+012.34[CR][LF]")]})
def test_settings_from_the_marker_answer_a_second_after_the_command(kalo):
    with serial.Serial(kalo.port, 9600, timeout=3) as host:
        asked = time.monotonic()
        host.write(b"MEAS?\r")
        assert host.read(9) == b"+012.34\r\n"
        assert time.monotonic() - asked >= 1.0
    kalo.wait_for_line("] MEAS?[CR]→+012.34[CR][LF]")


def weights(seed):
    with Simulator(profile=EXAMPLE, seed=seed) as sim, \
            serial.Serial(sim.port, 9600, timeout=2) as host:
        answers = []
        for _ in range(6):
            host.write(b"W\r\n")
            answers.append(host.read_until(b"\r\n"))
    assert any(line.endswith(f"(seed {seed})") for line in sim.lines)
    return answers


@pytest.mark.parametrize("kalo", [{"profile": PROFILES / "multimeter.toml", "seed": 3}],
                         indirect=True)
def test_a_parametrized_profile_answers_and_a_seed_repeats_its_readings(kalo):
    with serial.Serial(kalo.port, 9600, timeout=2) as host:
        host.write(b"READ?\n")
        assert 4.995 <= float(host.readline()) <= 5.005
    assert weights(11) == weights(11)


@pytest.mark.parametrize("options, code, told", [
    ({"args": ["--bogus"]}, 2, "bogus"),
    ({"args": ["--port", "/nonexistent/ttyK"]}, 1, "/nonexistent/ttyK"),
    # A relative profile is the working folder's; each problem starts with its place.
    ({"profile": "bad.toml"}, 3, r"^\S*bad\.toml:2:\d+: .*\[STX\]"),
])
def test_a_run_that_ends_early_says_why(tmp_path, monkeypatch, options, code, told):
    monkeypatch.chdir(tmp_path)
    (tmp_path / "bad.toml").write_text('[[rule]]\nmatch = "A[STX]"\n')
    with pytest.raises(SimulatorExited) as ended:
        Simulator(folder=tmp_path, **options).start()
    error = ended.value
    assert error.returncode == code and isinstance(error, ProfileRefused) == (code == 3)
    assert re.search(told, error.problems[0] if code == 3 else str(error)), error


def test_a_second_run_on_a_held_folder_says_why(kalo):
    with pytest.raises(SimulatorExited, match="既に起動されています"):
        Simulator(folder=kalo.folder).start()


def test_a_program_that_never_starts_is_killed_at_the_timeout(tmp_path):
    silent = tmp_path / "silent"
    silent.write_text("#!/bin/sh\necho HOST_PORT=/dev/null\nexec sleep 30\n")
    silent.chmod(0o755)
    sim = Simulator(tmp_path, program=str(silent), events=False, control=False,
                    start_timeout=0.5)
    with pytest.raises(SimulatorTimeout, match="after 0.5 s"):
        sim.start()
    assert sim.returncode is not None
    unrunnable = tmp_path / "unrunnable"
    unrunnable.write_text("#!/nonexistent/sh\n")
    unrunnable.chmod(0o755)
    with pytest.raises(SimulatorError, match="cannot be run"):
        Simulator(tmp_path, program=str(unrunnable)).start()


def test_a_dropped_simulator_ends_its_program_and_removes_its_folder():
    sim = Simulator().start()
    pid, folder = sim.pid, sim.folder
    del sim
    gc.collect()
    assert not folder.exists()
    with pytest.raises(ProcessLookupError):
        os.kill(pid, 0)


@pytest.mark.parametrize("environ", [{"KALO_RS232C": "/nonexistent/kalo"}, {"PATH": "/var/empty"}])
def test_a_missing_program_says_where_it_was_looked_for(environ):
    with pytest.raises(ProgramNotFound, match="KALO_RS232C"):
        find_program(environ)


@pytest.mark.kalo(settings={"interval": "0.001"})
def test_a_test_that_never_reads_the_output_holds_nothing_up(kalo):
    # Twice the texts whose log lines fill a pipe that nobody empties.
    pipe_lines = 65536 // len("[2026/12/07 16:30:00] 99.99\n")
    received = bytearray()
    with serial.Serial(kalo.port, 9600, timeout=0.05) as host:
        deadline = time.monotonic() + 30
        while len(received) < 2 * 5 * pipe_lines and time.monotonic() < deadline:
            received += host.read(4096)
    assert len(received) >= 2 * 5 * pipe_lines
    log_file = kalo.stop()
    printed = sum(line.endswith("] 99.99") for line in kalo.lines)
    saved = sum(line.endswith("] 99.99") for line in saved_lines(log_file))
    assert kalo.lines_skipped == 0 and printed == saved
