"""The settings dialog's values, written as the four settings files the program reads."""
from __future__ import annotations

import dataclasses
import os
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Mapping, Sequence, Tuple, Union

from .notation import to_bytes

PATTERN_COUNT = 5
FILE_NAMES = ("ACSet.txt", "PROTcol.txt", "SOUCHICMD.txt", "ACSet2.txt")

Pattern = Tuple[str, str]


def _record(fields: Sequence[bytes]) -> bytes:
    """One record: double-quoted fields, commas, CR LF."""
    for field in fields:
        if b'"' in field:
            raise ValueError(f"a settings field cannot hold a double quote: {field!r}")
    return b",".join(b'"' + field + b'"' for field in fields) + b"\r\n"


def _cp932(text: str) -> bytes:
    try:
        return text.encode("cp932")
    except UnicodeEncodeError as error:
        raise ValueError(f"{text!r} has characters outside Shift-JIS") from error


@dataclass(frozen=True)
class Settings:
    """What the settings dialog holds; the defaults are the program's own first-start values.

    Texts are written as typed, control characters as bracketed names ("MEAS?[CR]").
    ``patterns`` pairs a device command with its output data, at most five of them.
    """

    continuous: bool = True
    interval: Union[str, float] = "1"
    text: str = "99.99"
    patterns: Sequence[Pattern] = (("ABC+[CR]+[LF]", "4569.12"), ("[ACK]+ODF+[NCK]", "49.12cm"))
    port_number: int = 1
    baud_rate: int = 9600
    parity: str = "N"
    data_bits: int = 8
    stop_bits: str = "1"
    show_at_startup: bool = True

    @classmethod
    def of(cls, value: Union[Settings, Mapping[str, Any], None]) -> Settings:
        """Settings as given, or built from a mapping of field names (as a marker gives them)."""
        if value is None:
            return cls()
        if isinstance(value, Settings):
            return value
        return cls(**value)

    def replace(self, **changes: Any) -> Settings:
        return dataclasses.replace(self, **changes)

    def records(self) -> dict[str, bytes]:
        """The bytes of each settings file, by file name."""
        if len(self.patterns) > PATTERN_COUNT:
            raise ValueError(f"at most {PATTERN_COUNT} patterns, not {len(self.patterns)}")
        padded = list(self.patterns) + [("", "")] * (PATTERN_COUNT - len(self.patterns))
        commands = [command for command, _ in padded]
        answers = [answer for _, answer in padded]
        typed = [self.text, *answers, *commands]
        # The typed texts must hold as cp932 before their bytes are worth writing.
        typed_bytes = [_cp932(text) for text in typed]
        interval = self.interval if isinstance(self.interval, str) else f"{self.interval:g}"
        comm = [str(self.port_number), str(self.baud_rate), self.parity, str(self.data_bits),
                self.stop_bits]
        return {
            "ACSet.txt": _record([_cp932(field) for field in comm]),
            "PROTcol.txt": _record([b"0" if self.continuous else b"1", _cp932(interval),
                                    *typed_bytes]),
            "SOUCHICMD.txt": _record([to_bytes(text)
                                      for text in [self.text, *commands, *answers]]),
            "ACSet2.txt": _record([b"1" if self.show_at_startup else b"0"]),
        }

    def write(self, folder: Union[str, os.PathLike[str]]) -> None:
        """Writes the four files into folder, which must exist."""
        for name, data in self.records().items():
            Path(folder, name).write_bytes(data)
