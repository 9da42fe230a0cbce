"""What the log claims reaches the host: a slow host on the virtual port, from outside."""
import time

import pytest
import serial

from simhost import PROGRAM, Simulator, SlowHost, delivered_by_log, write_folder

TEXT = b"0123456789" * 200


@pytest.mark.parametrize("host_rate, seconds", [(2000, 4), (200_000, 2)])
def test_every_byte_logged_reaches_the_host_or_is_logged_dropped(tmp_path, host_rate, seconds):
    write_folder(tmp_path, b"0", b"0.5", TEXT)
    # The host sets the pace here, not the line: the cable moves bytes as fast as it can.
    sim = Simulator(PROGRAM, tmp_path, "--pace", "none")
    host = SlowHost(sim.host_port, host_rate)
    time.sleep(seconds)
    sim.stop()
    received = host.finish()
    expected, outputs, dropped = delivered_by_log(sim.saved_log(), TEXT)
    assert outputs >= 2 * seconds - 1
    assert len(received) == expected, (len(received), outputs, dropped)
    assert received == (TEXT * outputs)[:expected]
    # The drain has its bound: the bytes at 9600 bit/s and half a second, at most 3 s.
    assert sim.stop_seconds < 4
    assert (dropped > 0) == (host_rate < 10_000)


def test_a_late_reader_gets_a_long_answer_whole(tmp_path):
    answer = b"X" * 30_000
    write_folder(tmp_path, b"1", b"1", commands=[b"Q"], answers=[answer])
    sim = Simulator(PROGRAM, tmp_path, "--pace", "none")
    with serial.Serial(sim.host_port, 9600, timeout=0.5) as host:
        host.write(b"Q")
        time.sleep(2.5)
        received = host.read(len(answer))
    sim.stop()
    assert received == answer


@pytest.mark.parametrize("options", [[], ["--duration", "0"]])
def test_a_stop_from_outside_ends_a_long_interval_at_once(tmp_path, options):
    write_folder(tmp_path, b"0", b"30")
    sim = Simulator(PROGRAM, tmp_path, *options)
    host = SlowHost(sim.host_port, 100_000)
    if options:
        sim.wait(5)
    else:
        sim.stop()
        assert sim.stop_seconds < 1
    assert host.finish() == b""
    log = sim.saved_log()
    assert b"99.99" not in log
    assert log.count("通信を停止しました。".encode("cp932")) == 1
