"""Instrument profiles played by the headless program on its virtual port, as a host sees them."""
import re
import time
from pathlib import Path

import pytest
import serial

from simhost import PROGRAM, Simulator, read_events, run_program, write_folder

PROFILES = Path(__file__).parent.parent / "examples" / "profiles"
EXAMPLE = Path(__file__).parent / "golden" / "Instrument.toml"


def crc16_modbus(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def session(folder, profile, exchanges, *options):
    """Runs the profile, sends each command and reads its answer to the end marker."""
    write_folder(folder, b"1", b"1")
    sim = Simulator(PROGRAM, folder, "--profile", str(profile), *options)
    answers = []
    with serial.Serial(sim.host_port, 9600, timeout=1) as host:
        for command, until in exchanges:
            host.write(command)
            answers.append(host.read(until) if isinstance(until, int) else host.read_until(until))
    sim.stop()
    return answers, sim.lines


def test_the_documented_example_answers_as_written(tmp_path):
    exchanges = [(b"W\r\n", b"\r\n"), (b"SET 12.5\r\n", b"\r\n"), (b"T?\r\n", b"\r\n"),
                 (b"W\r\n", b"\r\n")]
    answers, lines = session(tmp_path, EXAMPLE, exchanges)
    assert re.fullmatch(rb"\+0100\.00 g\r\n", answers[0])
    assert answers[1:3] == [b"OK\r\n", b"12.5\r\n"]
    weight = float(answers[3].split()[0])
    assert 99.5 <= weight <= 100.5
    assert any(line.endswith("(seed 7)") for line in lines)
    again, _ = session(tmp_path, EXAMPLE, exchanges)
    assert again == answers


def test_a_binary_instrument_answers_fixed_frames_with_a_true_crc(tmp_path):
    read = bytes.fromhex("010300000002C40B")
    write = bytes.fromhex("01060005012C") + crc16_modbus(bytes.fromhex("01060005012C"))
    answers, _ = session(tmp_path, PROFILES / "binary_crc.toml", [
        (read, 9), (write, 8), (bytes.fromhex("010300050001940B"), 7)])
    for answer in answers:
        assert answer[-2:] == crc16_modbus(answer[:-2]), answer.hex()
    assert answers[0][:3] == bytes.fromhex("010304")
    assert 950 <= int.from_bytes(answers[0][3:5], "big") <= 1050
    assert answers[1] == write
    assert answers[2][3:5] == bytes.fromhex("012C")


def test_a_balance_streams_a_drifting_weight(tmp_path):
    write_folder(tmp_path, b"0", b"0.1")
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(PROFILES / "balance.toml"))
    with serial.Serial(sim.host_port, 9600, timeout=1) as host:
        texts = [host.read_until(b"\r\n") for _ in range(5)]
    sim.stop()
    weights = [float(t.split(b",")[1].split()[0]) for t in texts]
    assert all(re.fullmatch(rb"(ST|US),[+-]\d{5}\.\d\d g\r\n", t) for t in texts), texts
    assert all(abs(a - b) <= 0.02 + 1e-9 for a, b in zip(weights, weights[1:]))


@pytest.mark.parametrize("text, reason", [
    ('[[rule]]\nmatch = "A[STX]"\n', r":2:\d+: .*\[STX\]"),
    ('[[rule]]\nmatch = "A"\nanswer = "{nope}"\n', r":3:\d+: .*\{nope\}"),
    ('[framing\n', r":1:\d+: "),
])
def test_a_profile_that_cannot_be_used_refuses_the_run(tmp_path, text, reason):
    profile = tmp_path / "bad.toml"
    profile.write_text(text)
    run = run_program("--headless", "--virtual-port", "--folder", str(tmp_path), "--profile",
                      str(profile))
    for result in (run_program("--check-profile", str(profile)), run):
        assert result.returncode == 3
        assert re.search(re.escape(str(profile)) + reason, result.stderr), result.stderr
        assert result.stderr.endswith("\n") and not result.stderr.endswith("\n\n")
    assert "HOST_PORT=" not in run.stdout
    assert not (tmp_path / "LogData").exists() or not list((tmp_path / "LogData").iterdir())


def test_a_regex_storm_delays_answers_and_a_stop_only_briefly(tmp_path):
    storm = tmp_path / "storm.toml"
    storm.write_text('[framing]\nterminator = "[LF]"\n'
                     + "[[rule]]\nregex = '(?<g>a+)+N\\n'\nanswer = \"A\"\n" * 300
                     + '[[rule]]\nmatch = "W[LF]"\nanswer = "OK[CR][LF]"\n')
    write_folder(tmp_path, b"1", b"1")
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(storm), "--events", str(tmp_path / "e"))
    with serial.Serial(sim.host_port, 9600, timeout=2) as host:
        host.write(b"a" * 4095 + b"\nW\n")
        assert host.read_until(b"\r\n") == b"OK\r\n"
        host.write((b"a" * 4095 + b"\n") * 40)
        time.sleep(0.3)
        assert sim.stop() == 0
    assert sim.stop_seconds < 1.5
    unanswered = [e for e in read_events(tmp_path / "e") if e["kind"] == "unanswered"]
    assert re.fullmatch(r"rule \d+", unanswered[0]["budget_rule"]), unanswered[0]
    assert "照合の上限で応答なしに破棄した受信 (rule ".encode("cp932") in sim.saved_log()


def test_max_bytes_holds_however_the_reads_fall(tmp_path):
    profile = tmp_path / "short.toml"
    profile.write_text('[framing]\nterminator = "[LF]"\nmax_bytes = 8\n'
                       "[[rule]]\nregex = '.*'\nanswer = \"OK {0}\"\n")
    write_folder(tmp_path, b"1", b"1")
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(profile))
    with serial.Serial(sim.host_port, 9600, timeout=1) as host:
        for reads in ([b"0123456789ABCDEF\n"], [b"0123456789ABCDEF", b"\n"]):
            for read in reads:
                host.write(read)
                time.sleep(0.2)
            host.write(b"W\n")
            assert host.read_until(b"W\n") == b"OK W\n"
    sim.stop()
