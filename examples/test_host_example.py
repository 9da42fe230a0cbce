"""Host-software testing against the simulator, on a machine without a display or adapter.

The kalo fixture runs the simulator headless on a virtual port of its own, here playing the
bench multimeter of profiles/multimeter.toml; pyserial plays the host software under test.

    pip install python/
    KALO_RS232C=build/bin/kalo_rs232c /usr/bin/python3 -m pytest examples/
"""
from pathlib import Path

import pytest
import serial


@pytest.mark.kalo(profile=Path(__file__).parent / "profiles" / "multimeter.toml")
def test_the_meter_reads_five_volts(kalo):
    with serial.Serial(kalo.port, 9600, timeout=2) as meter:
        meter.write(b"READ?\n")
        assert 4.995 <= float(meter.readline()) <= 5.005
