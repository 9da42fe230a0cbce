"""The event stream and the control channel through the package."""
import re

import pytest
import serial

from package_paths import EXAMPLE
from kalo_rs232c import ControlError, SimulatorError

pytestmark = pytest.mark.kalo(EXAMPLE, seed=7)
TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}")


def ask(host, command):
    host.write(command)
    return host.read_until(b"\r\n")


@pytest.mark.kalo(seed=8)  # added to the module's marker, and nearer: its seed wins
def test_events_tell_the_start_and_each_exchange(kalo):
    with serial.Serial(kalo.port, 9600, timeout=2) as host:
        answer = ask(host, b"W\r\n")
    event = kalo.wait_for_event("answer", lambda e: e["command_text"] == "W[CR][LF]")
    assert (event["command_hex"], event["hex"]) == ("570d0a", answer.hex())
    assert event["text"] == answer.decode().replace("\r\n", "[CR][LF]")
    start = kalo.wait_for_event("start")
    assert (start["seed"], start["profile"]) == (8, str(EXAMPLE))
    events = kalo.events
    received = "".join(e["hex"] for e in events if e["kind"] == "received")
    assert received == "570d0a"
    assert all(e["v"] == 1 and TIME.fullmatch(e["time"]) for e in events)
    assert [e["t_ns"] for e in events] == sorted(e["t_ns"] for e in events)


def test_control_sets_values_sends_and_counts(kalo):
    with serial.Serial(kalo.port, 9600, timeout=2) as host:
        kalo.set_value("target", "3.5")
        assert ask(host, b"T?\r\n") == b"3.5\r\n"
        kalo.send(b"\x06")
        kalo.send("ALARM[CR][LF]")
        assert host.read(8) == b"\x06ALARM\r\n"
        with pytest.raises(ControlError, match="nonsense"):
            kalo.control("nonsense")
        counters = kalo.counters()
    assert counters["commands_seen"] == counters["answered"] == 1
    assert counters["bytes_in"] == 4 and counters["bytes_out"] == 5 + 8
    kalo.stop()
    assert kalo.counts == counters
    with pytest.raises(SimulatorError, match="stopped"):
        kalo.counters()


def test_faults_switch_at_run_time_and_a_bad_profile_leaves_the_old_one(kalo, tmp_path):
    flaky = tmp_path / "flaky.toml"
    flaky.write_text(EXAMPLE.read_text()
                     + "\n[faults]\ndrop = { probability = 1.0, enabled = false }\n")
    broken = tmp_path / "broken.toml"
    broken.write_text('[[rule]]\nmatch = "A[STX]"\n')
    with serial.Serial(kalo.port, 9600, timeout=0.5) as host:
        with pytest.raises(ControlError, match=re.escape(str(broken)) + r":2:\d+:"):
            kalo.load_profile(broken)
        assert ask(host, b"T?\r\n") == b"0\r\n"
        kalo.load_profile(flaky)
        kalo.fault("drop")
        assert ask(host, b"T?\r\n") == b""
        kalo.wait_for_event("fault", lambda e: e["faults"] == ["drop"])
        kalo.fault("drop", enabled=False)
        assert ask(host, b"T?\r\n") == b"0\r\n"
