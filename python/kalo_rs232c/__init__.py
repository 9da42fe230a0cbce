"""Drive the kalo_rs232c serial-instrument simulator from Python tests of host software.

    with Simulator(profile="multimeter.toml") as sim:
        with serial.Serial(sim.port, 9600, timeout=2) as port:
            port.write(b"READ?\\n")
            print(port.readline())

Under pytest, the ``kalo`` fixture of ``kalo_rs232c.pytest_plugin`` does the same.
"""
from .errors import (ControlError, ProfileRefused, ProgramNotFound, SimulatorError,
                     SimulatorExited, SimulatorTimeout)
from .notation import saved_lines, to_bytes
from .program import find_program
from .settings import Settings
from .simulator import Simulator

__all__ = [
    "ControlError", "ProfileRefused", "ProgramNotFound", "Settings", "Simulator",
    "SimulatorError", "SimulatorExited", "SimulatorTimeout", "find_program", "saved_lines",
    "to_bytes",
]
__version__ = "0.1.0"
