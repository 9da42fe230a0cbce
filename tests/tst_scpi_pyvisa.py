"""The shipped SCPI multimeter driven by a VISA host: pyvisa with its pure-Python backend on
the virtual port, as a test bench's driver would talk to the instrument."""
from pathlib import Path

import pytest

from kalo_rs232c import Simulator

pyvisa = pytest.importorskip("pyvisa", reason="needs Debian's python3-pyvisa")
pytest.importorskip("pyvisa_py", reason="needs Debian's python3-pyvisa-py (the @py backend)")

PROFILE = Path(__file__).parent.parent / "examples" / "profiles" / "scpi-dmm.toml"
IDN = "KALO,DMM-6500,0001,1.01"


@pytest.fixture
def dmm(tmp_path):
    with Simulator(tmp_path, PROFILE) as sim:
        manager = pyvisa.ResourceManager("@py")
        instrument = manager.open_resource(f"ASRL{sim.port}::INSTR", baud_rate=9600,
                                           read_termination="\n", write_termination="\n",
                                           timeout=3000)
        try:
            yield instrument
        finally:
            instrument.close()
            manager.close()


def reading(text, low, high):
    value = float(text)
    assert low <= value <= high, text
    return value


def test_a_visa_host_configures_and_reads_each_function(dmm):
    dmm.write("*RST")
    dmm.write("CONF:VOLT:AC")
    reading(dmm.query("READ?"), 0.999, 1.001)
    dc = dmm.query("CONF:VOLT:DC;:READ?")
    assert ";" not in dc
    reading(dc, 4.995, 5.005)
    reading(dmm.query("conf:resistance;:read?"), 999.5, 1000.5)
    reading(dmm.query("MEASure:CURRent:DC?"), 0.0999, 0.1001)
    assert dmm.query("FUNC?") == '"CURR:DC"'
    assert dmm.query("*IDN?;*OPC?") == IDN + ";1"


def test_errors_queue_in_order_and_the_forms_are_scpi_s(dmm):
    dmm.write("*CLS")
    dmm.write("FOO:BAR")
    dmm.write("MEAS:VOLT:DC")
    assert [dmm.query("SYST:ERR?") for _ in range(3)] == [
        '-113,"Undefined header"', '-113,"Undefined header"', '+0,"No error"']
    dmm.write("VOLT:RANG 1e9")
    assert dmm.query("SYSTem:ERRor:NEXT?") == '-222,"Data out of range"'
    dmm.write("sense:voltage:dc:range:upper 100")
    assert dmm.query("VOLT:RANG?") == "+1.00000000E+02"
    assert dmm.query("*ESR?") == "48"  # a command error and an execution error since *CLS
    reading(dmm.query("measure:voltage:dc?"), 4.995, 5.005)


def test_answers_come_in_the_order_asked_when_the_host_reads_late(dmm):
    dmm.write("*IDN?")
    dmm.write("FUNC?")
    dmm.write("VOLT:RANG?")
    assert [dmm.read() for _ in range(3)] == [IDN, '"VOLT:DC"', "+1.00000000E+01"]
