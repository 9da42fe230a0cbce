"""The shipped Modbus RTU map driven by real masters, mbpoll and pymodbus, on the virtual port."""
import shutil
import subprocess
from pathlib import Path

import pytest
import serial

from kalo_rs232c import Simulator

PROFILE = Path(__file__).parent.parent / "examples" / "profiles" / "modbus-map.toml"


@pytest.fixture
def sim(tmp_path):
    with Simulator(tmp_path, PROFILE) as running:
        yield running


def mbpoll(sim, *args, write=(), slave=1):
    """What mbpoll read (0-based addresses) or wrote, or the text of its failure."""
    run = subprocess.run(["mbpoll", "-m", "rtu", "-b", "19200", "-P", "even", "-0", "-1", "-o", "0.5",
                          "-a", str(slave), *map(str, args), sim.port, *map(str, write)],
                         capture_output=True, text=True, timeout=20)
    values = [line.split("\t")[-1] for line in run.stdout.splitlines() if line.startswith("[")]
    return [float(v) if "." in v else int(v) for v in values] if run.returncode == 0 else run.stdout + run.stderr


@pytest.mark.skipif(not shutil.which("mbpoll"), reason="mbpoll is not installed (Debian: mbpoll)")
def test_mbpoll_reads_and_writes_the_map(sim):
    assert mbpoll(sim, "-t", 4, "-r", 0, "-c", 10) == [1000 + a for a in range(10)]
    assert mbpoll(sim, "-t", 4, "-r", 37, "-c", 63) == [1000 + a for a in range(37, 100)]
    assert "Illegal data address" in mbpoll(sim, "-t", 4, "-r", 0, "-c", 125)  # 100-124 unmapped
    assert 200 <= mbpoll(sim, "-t", 3, "-r", 0)[0] <= 230
    assert 0.95 <= mbpoll(sim, "-t", "3:float", "-B", "-r", 1)[0] <= 1.08
    assert mbpoll(sim, "-t", 4, "-r", 200) == [2200]        # the set point's initial 220.0
    assert mbpoll(sim, "-t", 4, "-r", 5, write=[4321]) == []             # function 6
    assert mbpoll(sim, "-t", 4, "-r", 40, write=[7, 8, 9]) == []         # function 16
    assert mbpoll(sim, "-t", 4, "-r", 200, write=[2250]) == []
    assert mbpoll(sim, "-t", 4, "-r", 4, "-c", 3) == [1004, 4321, 1006]
    assert mbpoll(sim, "-t", 4, "-r", 39, "-c", 5) == [1039, 7, 8, 9, 1043]
    assert mbpoll(sim, "-t", 4, "-r", 200) == [2250]
    assert mbpoll(sim, "-t", 0, "-r", 2, write=[1, 0, 1]) == []         # function 15
    assert mbpoll(sim, "-t", 0, "-r", 0, "-c", 6) == [0, 0, 1, 0, 1, 0]
    assert mbpoll(sim, "-t", 1, "-r", 0, "-c", 4) == [0, 1, 0, 1]
    assert "Illegal data address" in mbpoll(sim, "-t", 4, "-r", 100)
    assert "timed out" in mbpoll(sim, "-t", 4, "-r", 0, slave=2)
    # mbpoll itself refuses a count of 126; pymodbus below sends one.


@pytest.fixture
def client(sim):
    client_module = pytest.importorskip("pymodbus.client", reason="pymodbus is not installed (Debian: "
                                        "python3-pymodbus, python3-serial-asyncio)")
    # pyserial, under pymodbus, fails where a pseudo-terminal refuses the profile's even parity;
    # Debian's pymodbus takes whole seconds only (0.5 would be 0: no wait at all).
    master = client_module.ModbusSerialClient(sim.port, baudrate=19200, timeout=1, retries=0)
    assert master.connect()
    yield master
    master.close()


def test_pymodbus_reads_and_writes_the_map(sim, client):
    for start, count in [(0, 1), (3, 7), (50, 50), (0, 100)]:
        assert client.read_holding_registers(start, count, slave=1).registers == list(
            range(1000 + start, 1000 + start + count))
    assert 200 <= client.read_input_registers(0, 1, slave=1).registers[0] <= 230
    assert not client.write_register(9, 77, slave=1).isError()
    assert not client.write_registers(20, [1, 2, 3], slave=1).isError()
    assert client.read_holding_registers(8, 15, slave=1).registers[:4] == [1008, 77, 1010, 1011]
    assert client.read_holding_registers(20, 3, slave=1).registers == [1, 2, 3]
    assert not client.write_coils(0, [True, False, True, True], slave=1).isError()
    assert not client.write_coil(15, True, slave=1).isError()
    bits = client.read_coils(0, 16, slave=1).bits
    assert [bits[i] for i in (0, 1, 2, 3, 4, 15)] == [True, False, True, True, False, True]
    assert client.read_holding_registers(100, 1, slave=1).exception_code == 2
    assert client.read_holding_registers(0, 126, slave=1).exception_code == 3
    assert client.read_holding_registers(0, 1, slave=2).isError()
    reasons = [event.get("reason", "") for event in sim.events if event.get("kind") == "unanswered"]
    assert any("slave 2, not 1" in reason for reason in reasons), reasons


def test_a_damaged_crc_goes_unanswered_with_its_reason(sim):
    request, answer = bytes.fromhex("010300000002c40b"), bytes.fromhex("01030403e803e9bb3d")
    with serial.Serial(sim.port, 19200, timeout=0.3) as host:
        host.write(request[:-1] + b"\x4b")
        assert host.read(16) == b""
        host.write(request)
        assert host.read(16) == answer
    event = sim.wait_for_event("unanswered")
    assert event["reason"] == "Modbus: CRC 4BC4 sent, 0BC4 computed over the request", event
