"""What can go wrong with a simulator run, each with what the program said about it."""
from __future__ import annotations

from typing import Any, Mapping, Optional, Sequence

PROGRAM_PREFIX = "kalo_rs232c: "


class SimulatorError(Exception):
    """The simulator could not be found, started, reached or stopped as asked."""


class ProgramNotFound(SimulatorError):
    """Neither the environment nor PATH names a kalo_rs232c program."""


class SimulatorExited(SimulatorError):
    """The program ended before or while it was needed; carries its exit code and stderr."""

    def __init__(self, message: str, returncode: Optional[int], stderr: str,
                 lines: Sequence[str] = ()) -> None:
        details = [message]
        if stderr.strip():
            details.append("stderr:\n" + stderr.rstrip())
        if lines:
            details.append("last lines:\n" + "\n".join(lines[-10:]))
        super().__init__("\n".join(details))
        self.returncode = returncode
        self.stderr = stderr
        self.lines = list(lines)


class SimulatorTimeout(SimulatorError, TimeoutError):
    """What was waited for did not come in time; the program may still be running."""

    def __init__(self, message: str, lines: Sequence[str] = ()) -> None:
        if lines:
            message += "\nlast lines:\n" + "\n".join(lines[-10:])
        super().__init__(message)
        self.lines = list(lines)


class ProfileRefused(SimulatorExited):
    """Exit code 3: the profile cannot be used; ``problems`` holds its FILE:LINE:COL lines."""

    @property
    def problems(self) -> list[str]:
        """The FILE:LINE:COL: reason lines, without the program's name in front."""
        return [line.removeprefix(PROGRAM_PREFIX) for line in self.stderr.splitlines()
                if line.strip()]


class ControlError(SimulatorError):
    """The control channel answered ``ok: false``; ``reply`` is the whole answer."""

    def __init__(self, request: Mapping[str, Any], reply: Mapping[str, Any]) -> None:
        super().__init__(f"{request.get('cmd')!r} refused: {reply.get('error', reply)}")
        self.request = dict(request)
        self.reply = dict(reply)
