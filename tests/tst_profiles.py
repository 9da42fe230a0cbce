"""Instrument profiles played by the headless program on its virtual port, as a host sees them."""
import os
import re
import time
from pathlib import Path

import pytest
import serial

from kalo_rs232c import saved_lines
from simhost import (PROGRAM, Simulator, crc16_modbus, read_events, run_program, wait_for,
                     write_folder)

PROFILES = Path(__file__).parent.parent / "examples" / "profiles"
EXAMPLE = Path(__file__).parent / "golden" / "Instrument.toml"


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


def test_a_host_can_neither_forge_the_saved_log_nor_split_a_character_across_the_arrow(tmp_path):
    (tmp_path / "crc.toml").write_text('[framing]\ngap_ms = 50\n[[rule]]\nmatch = "A[x81]"\n'
                                       'answer = "B[CR][LF]"\n')
    stop = "通信を停止しました。".encode("cp932")
    forged = b'Z"\r\n"[2026/12/09 00:00:00] ' + stop + b'\r\n"'
    answers, lines = session(tmp_path, tmp_path / "crc.toml", [(b"A\x81", 3), (forged, 0), (b"", 1)])
    assert answers[0] == b"B\r\n" and any(line.endswith("] A[x81]→B[CR][LF]") for line in lines)
    saved = Path(lines[-2].removeprefix("LOG_FILE=")).read_bytes()
    logged = saved_lines(saved)
    assert saved.count(b"\r\n") == len(logged) == len(lines) - 3 and logged.count(stop) == 1
    assert b"A\x81" + "→".encode("cp932") + b"B\r\n" in logged
    assert any(line.endswith(forged) for line in logged)


def test_a_balance_streams_a_drifting_weight(tmp_path):
    write_folder(tmp_path, b"0", b"0.1")
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(PROFILES / "balance.toml"))
    with serial.Serial(sim.host_port, 9600, timeout=1) as host:
        texts = [host.read_until(b"\r\n") for _ in range(5)]
    sim.stop()
    weights = [float(t.split(b",")[1].split()[0]) for t in texts]
    assert all(re.fullmatch(rb"(ST|US),[+-]\d{5}\.\d\d g\r\n", t) for t in texts), texts
    assert all(abs(a - b) <= 0.02 + 1e-9 for a, b in zip(weights, weights[1:]))


# What cannot be read at all is refused at once, never waited on: a FIFO without a writer,
# an endless device, a folder, a file past the size bound.
@pytest.mark.parametrize("text, reason", [
    ('[[rule]]\nmatch = "A[STX]"\n', r":2:\d+: .*\[STX\]"),
    ('[[rule]]\nmatch = "A"\nanswer = "{nope}"\n', r":3:\d+: .*\{nope\}"),
    ('[framing\n', r":1:\d+: "),
    (os.mkfifo, ": not a regular file"),
    (lambda p: p.symlink_to("/dev/zero"), ": not a regular file"),
    (os.mkdir, ": a folder, not a file"),
    (lambda p: os.truncate(p.write_bytes(b"#") and p, (16 << 20) + 1), ": larger than 16 MiB"),
])
def test_a_profile_that_cannot_be_used_refuses_the_run(tmp_path, text, reason):
    profile = tmp_path / "bad.toml"
    text(profile) if callable(text) else profile.write_text(text)
    run = run_program("--headless", "--virtual-port", "--folder", str(tmp_path), "--profile",
                      str(profile))
    for result in (run_program("--check-profile", str(profile)), run):
        assert result.returncode == 3
        assert re.search(re.escape(str(profile)) + reason, result.stderr), result.stderr
        assert result.stderr.endswith("\n") and not result.stderr.endswith("\n\n")
    assert "HOST_PORT=" not in run.stdout
    assert not (tmp_path / "LogData").exists() or not list((tmp_path / "LogData").iterdir())


def test_a_profile_session_in_a_new_folder_plays_only_the_profile(tmp_path):
    """No continuous "99.99" and no sample patterns of the dialog among the profile's answers."""
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(EXAMPLE))
    with serial.Serial(sim.host_port, 9600, timeout=1.5) as host:
        silence = host.read(64)
        host.write(b"T?\r\n")
        answer = host.read_until(b"\r\n")
    sim.stop()
    assert (silence, answer) == (b"", b"0\r\n")
    protocol = (tmp_path / "PROTcol.txt").read_bytes().split(b",")
    assert protocol[0] == b'"1"' and set(protocol[3:]) <= {b'""', b'""\r\n'}, protocol
    assert (tmp_path / "ACSet.txt").read_bytes().startswith(b'"1","9600","N","8","1"')


def test_every_command_is_accounted_for_when_its_answer_does_not_go_out_whole(tmp_path):
    """Answers too large for a host that does not read are refused by the port; a paced one is
    cut off by the stop. Neither counts as answered, and the stream says why."""
    profile = tmp_path / "p.toml"
    profile.write_text('[framing]\nterminator = "[LF]"\n'
                       f'[[rule]]\nmatch = "B[LF]"\nanswer = "{"X" * 40000}"\n'
                       '[[rule]]\nmatch = "S[LF]"\nanswer = "0123456789"\nchar_gap_ms = 200\n')
    write_folder(tmp_path, b"1", b"1")
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(profile), "--events",
                    str(tmp_path / "events"))
    with serial.Serial(sim.host_port, 9600, timeout=1):
        writer = os.open(sim.host_port, os.O_WRONLY | os.O_NOCTTY)
        os.write(writer, b"B\n" * 5 + b"S\n")
        os.close(writer)
        wait_for(lambda: b"refused" in (tmp_path / "events").read_bytes(), 5, "a refusal")
        time.sleep(0.5)
        assert sim.stop() == 0
    counts = dict(pair.split("=") for pair in sim.lines[-1].removeprefix("COUNTS=").split())
    events = read_events(tmp_path / "events")
    refused = [e for e in events if e["kind"] == "refused"]
    answered = [e for e in events if e["kind"] == "answer"]
    assert int(counts["commands_seen"]) == 6 == len(answered) + len(refused)
    assert (int(counts["answered"]), int(counts["refused"])) == (len(answered), len(refused))
    assert "send buffer full" in refused[0]["reason"] and refused[0]["rule"] == "rule 1"
    assert refused[-1]["rule"] == "rule 2" and "stopped" in refused[-1]["reason"]
    assert 0 < len(refused[-1]["hex"]) < 20
    assert sum(len(e["hex"]) for e in answered + refused) // 2 == int(counts["bytes_out"])


def test_a_regex_storm_delays_answers_and_a_stop_only_briefly(tmp_path):
    storm = tmp_path / "storm.toml"
    storm.write_text('[framing]\nterminator = "[LF]"\n'
                     + "[[rule]]\nregex = '(?<g>a+)+N\\n'\nanswer = \"A\"\n" * 300
                     + '[[rule]]\nmatch = "W[LF]"\nanswer = "OK[CR][LF]"\n')
    write_folder(tmp_path, b"1", b"1")
    # A storm of bytes at memory speed, not at the line's.
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(storm), "--events", str(tmp_path / "e"),
                    "--pace", "none")
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
