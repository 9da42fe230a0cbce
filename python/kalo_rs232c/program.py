"""Finding the kalo_rs232c program and the environment it runs in."""
from __future__ import annotations

import os
import shutil
from typing import Mapping, Optional

from .errors import ProgramNotFound

ENVIRONMENT_VARIABLE = "KALO_RS232C"
PROGRAM_NAME = "kalo_rs232c"


def find_program(environ: Optional[Mapping[str, str]] = None) -> str:
    """The program named by $KALO_RS232C, else kalo_rs232c on PATH."""
    environ = os.environ if environ is None else environ
    named = environ.get(ENVIRONMENT_VARIABLE)
    if named:
        if not (os.path.isfile(named) and os.access(named, os.X_OK)):
            raise ProgramNotFound(f"${ENVIRONMENT_VARIABLE} names {named!r}, "
                                  "which is no executable file")
        return named
    found = shutil.which(PROGRAM_NAME, path=environ.get("PATH"))
    if not found:
        raise ProgramNotFound(f"no {PROGRAM_NAME} on PATH; set ${ENVIRONMENT_VARIABLE} to "
                              "the program (for example build/bin/kalo_rs232c)")
    return found


def headless_environment(environ: Optional[Mapping[str, str]] = None) -> dict[str, str]:
    """The environment without a display: a headless run must not reach for one."""
    environ = os.environ if environ is None else environ
    return {key: value for key, value in environ.items()
            if key not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
