"""The SCPI and Modbus tables exactly as their reference first shows them, from a plain host."""
import struct
from pathlib import Path

import serial

from kalo_rs232c import Simulator
from simhost import crc16_modbus

GOLDEN = Path(__file__).parent / "golden"


def request(*fields):
    body = bytes([1]) + struct.pack(">B" + "H" * (len(fields) - 1), *fields)
    return body + crc16_modbus(body)


def test_the_scpi_table_as_written(tmp_path):
    with Simulator(tmp_path, GOLDEN / "scpi-as-written.toml") as sim, \
            serial.Serial(sim.port, 9600, timeout=2) as host:
        def ask(text):
            host.write(text.encode() + b"\n")
            return host.read_until(b"\n").decode().rstrip("\n")
        ac = float(ask("conf:volt:ac;:READ?"))
        dc = float(ask("CONFIGURE:VOLTAGE:DC;:read?"))
        answers = [ask("*IDN?;FUNC?"), ask("VOLT:RANG 1e9;:SYST:ERR?;:SYST:ERR?"),
                   ask("FUNC \"VOLT:XX\";:SYST:ERR?"), ask("*RST;*OPC?"), ask("SENS:VOLT:DC:RANG?")]
    assert 0.999 <= ac <= 1.001 and 4.995 <= dc <= 5.005, (ac, dc)
    assert answers == ['KALO,DMM-6500,0001,1.01;"VOLT:DC"',
                       '-222,"Data out of range";+0,"No error"',
                       '-224,"Illegal parameter value"', "1", "+1.00000000E+01"]


def test_the_modbus_map_as_written(tmp_path):
    with Simulator(tmp_path, GOLDEN / "modbus-as-written.toml") as sim, \
            serial.Serial(sim.port, 9600, timeout=1) as host:
        def ask(frame, length):
            host.write(frame)
            return host.read(length)
        holding = ask(request(3, 95, 5), 5 + 10)
        written = ask(request(6, 3, 77), 8)
        again = ask(request(3, 3, 1), 7)
        temperature = ask(request(4, 0, 1), 7)
        coils = ask(request(5, 2, 0xFF00), 8) and ask(request(1, 0, 16), 7)
        discrete = ask(request(2, 0, 8), 6)
        beyond = ask(request(3, 99, 2), 5)
        damaged = ask(request(3, 0, 1)[:-1] + b"\x00", 7)
    assert holding[:3] == b"\x01\x03\x0a" and holding[-2:] == crc16_modbus(holding[:-2])
    assert struct.unpack(">5H", holding[3:13]) == (1095, 1096, 1097, 1098, 1099)
    assert written == request(6, 3, 77) and again[3:5] == struct.pack(">H", 77)
    assert 200 <= struct.unpack(">h", temperature[3:5])[0] <= 230
    assert coils[3:5] == b"\x04\x00" and discrete[3] == 0xAA
    assert beyond[:3] == b"\x01\x83\x02" and damaged == b""


def test_a_test_switches_the_faults_of_the_protocol_answers(tmp_path):
    for table, name, asking in (("modbus", "modbus", request(3, 0, 1)), ("scpi", "scpi", b"*OPC?\n")):
        profile = tmp_path / f"{table}.toml"
        profile.write_text((GOLDEN / f"{table}-as-written.toml").read_text()
                           + "\n[faults]\ndrop = { every = 1, enabled = false }\n")
        with Simulator(tmp_path / table, profile) as sim, \
                serial.Serial(sim.port, 9600, timeout=0.5) as host:
            host.write(asking)
            before = host.read(7)
            sim.fault("drop", rule=name)
            host.write(asking)
            after = host.read(7)
        assert before and not after, (table, before, after)
