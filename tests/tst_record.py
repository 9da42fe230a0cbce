"""--record from outside: the simulator plays the real instrument on one end of a socat cable,
the recorder relays a pyserial host to the other end, and the profile it writes must play
the same answers back to the same script."""
import os
import signal
from pathlib import Path

import pytest

from kalo_rs232c import saved_lines
from simhost import (PROGRAM, Cable, Simulator, check_events, converse, read_events,
                     run_program, wire, write_folder)

MULTIMETER = Path(__file__).parent.parent / "examples" / "profiles" / "multimeter.toml"
SCRIPT = [b"*IDN?\n", b"MEAS:VOLT:DC?\n", b"MEAS:VOLT:DC?\n", b"READ?\n", b"VOLT:DC:NPLC?\n",
          b"VOLT:DC:NPLC 2\n", b"VOLT:DC:NPLC?\n", b"MEAS:VOLT:DC?\n", b"FOO\n", b"*IDN?\n",
          b"READ?\n"]


@pytest.fixture
def cable(tmp_path):
    with Cable(tmp_path) as cable:
        yield cable


def folder(tmp_path, name):
    path = tmp_path / name
    path.mkdir()
    return path


def test_a_recorded_multimeter_plays_back_the_same_answers(tmp_path, cable):
    f1, f2, f3 = (folder(tmp_path, name) for name in ("F1", "F2", "F3"))
    write_folder(f1, b"1", b"1")
    # Unpaced, so that each answer comes in one read and the log's lines can be compared whole.
    instrument = Simulator(PROGRAM, f1, "--port", cable.b, "--profile", str(MULTIMETER),
                           "--seed", "1", "--pace", "none")
    link, events = tmp_path / "host", tmp_path / "events"
    recorder = Simulator(PROGRAM, f2, "--record", cable.a, "--events", str(events),
                         "--host-link", str(link))
    recorded = converse(str(link), SCRIPT)
    assert recorder.stop() == 0
    assert instrument.stop() == 0
    assert not os.path.lexists(link)

    assert recorded[0].startswith(b"KALO,DMM-6500")
    assert recorded[5] == b""
    assert [float(recorded[4]), float(recorded[6])] == [10.0, 2.0]
    assert recorded[8] == b'-113,"Undefined header"\n'
    assert len(set(recorded[i] for i in (1, 2, 7))) == 3, recorded
    assert all(4.995 <= float(recorded[i]) <= 5.005 for i in (1, 2, 3, 7, 10)), recorded
    profile = f2 / "Recorded.toml"
    assert recorder.value("RECORDED") == str(profile)
    assert run_program("--check-profile", str(profile)).returncode == 0

    # Both directions in the log, shown with the usual names and saved to read back as they were,
    # and in the event stream: the host's bytes received, the instrument's sent.
    shown = [line[22:] for line in recorder.lines]
    assert "ホスト→装置: *IDN?[LF]" in shown
    assert '装置→ホスト: -113,"Undefined header"[LF]' in shown
    saved = saved_lines(Path(recorder.value("LOG_FILE")).read_bytes())
    for command in SCRIPT:
        assert "ホスト→装置: ".encode("cp932") + command in saved
    stream = read_events(events)
    check_events(stream)
    assert [stream[0]["kind"], stream[-1]["kind"]] == ["start", "stop"]
    assert (wire(stream, "received"), wire(stream, "sent")) == (b"".join(SCRIPT),
                                                                b"".join(recorded))

    write_folder(f3, b"1", b"1")
    player = Simulator(PROGRAM, f3, "--profile", str(profile))
    played = converse(player.host_port, SCRIPT)
    assert player.stop() == 0
    assert played == recorded


def test_a_recording_without_exchange_is_a_profile_that_says_so(tmp_path, cable):
    # Stop signals that go on arriving while it saves change nothing.
    for signals in ([signal.SIGTERM], [signal.SIGHUP], [signal.SIGTERM]):
        recorder = Simulator(PROGRAM, tmp_path, "--record", cable.a)
        assert recorder.stop_by(signals) == 0, signals
        profile = Path(recorder.value("RECORDED"))
        assert run_program("--check-profile", str(profile)).returncode == 0
        assert profile.read_text().startswith("# Recorded by kalo_rs232c --record from " + cable.a)
        assert "LOG_FILE" in "".join(recorder.lines)


@pytest.mark.parametrize("options, code, reason", [
    (["--virtual-port", "--record", "DEV"], 2, "--record is for --headless"),
    (["--headless", "--record", "DEV"], 2, "--record needs the host's side"),
    (["--headless", "--port", "X", "--record", "DEV", "--seed", "1"], 2, "--profile and --seed"),
    (["--headless", "--virtual-port", "--record", "/nonexistent/tty"], 1,
     "instrument's port cannot be opened"),
])
def test_a_recording_that_cannot_relay_is_refused(tmp_path, options, code, reason):
    run = run_program("--folder", str(tmp_path), *options)
    assert run.returncode == code and reason in run.stderr and run.stdout == ""
    assert not (tmp_path / "Recorded.toml").exists()
