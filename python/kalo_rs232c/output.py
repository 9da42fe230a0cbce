"""The program's standard output and error, read to the end in background threads.

A harness that reads only now and then must never hold the simulator up, so the pipes are
drained as fast as the program writes; the lines wait here instead.
"""
from __future__ import annotations

import subprocess
import threading
from pathlib import Path
from typing import IO, Optional

STARTED = "通信を開始しました。"
_KEY_LINES = ("HOST_PORT", "LOG_FILE", "COUNTS", "LOG_LINES_SKIPPED", "RECORDED")


def parse_counts(text: str) -> dict[str, int]:
    """"commands_seen=1 answered=1 ..." as a dict of numbers."""
    pairs = (field.split("=", 1) for field in text.split())
    return {name: int(value) for name, value in pairs}


class ProgramOutput:
    """Collects a started process's stdout lines and stderr text.

    Waiters sleep on ``changed``, which is notified on each line and when stdout ends.
    """

    def __init__(self, process: subprocess.Popen[bytes], changed: threading.Condition) -> None:
        self.changed = changed
        self.host_port: Optional[str] = None
        self.log_file: Optional[Path] = None
        self.recorded: Optional[Path] = None
        self.counts: Optional[dict[str, int]] = None
        self.lines_skipped = 0
        self.started = False
        self.closed = False
        self._lines: list[str] = []
        self._stderr: list[str] = []
        assert process.stdout is not None and process.stderr is not None
        self._threads = [
            threading.Thread(target=self._read_stdout, args=(process.stdout,), daemon=True),
            threading.Thread(target=self._read_stderr, args=(process.stderr,), daemon=True),
        ]
        for thread in self._threads:
            thread.start()

    @property
    def lines(self) -> list[str]:
        """The log lines so far; the KEY=value lines are kept as attributes instead."""
        with self.changed:
            return list(self._lines)

    def find(self, ending: str, since: int) -> tuple[Optional[str], int]:
        """The first line from index ``since`` on that ends with ending, and the index a later
        search may resume from."""
        with self.changed:
            for index in range(since, len(self._lines)):
                if self._lines[index].endswith(ending):
                    return self._lines[index], index
            return None, len(self._lines)

    @property
    def stderr(self) -> str:
        with self.changed:
            return "".join(self._stderr)

    def join(self, timeout: float) -> None:
        for thread in self._threads:
            thread.join(timeout)

    def _read_stdout(self, stream: IO[bytes]) -> None:
        for raw in stream:
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            with self.changed:
                self._take(line)
                self.changed.notify_all()
        with self.changed:
            self.closed = True
            self.changed.notify_all()

    def _read_stderr(self, stream: IO[bytes]) -> None:
        for raw in stream:
            with self.changed:
                self._stderr.append(raw.decode("utf-8", errors="replace"))

    def _take(self, line: str) -> None:
        key, _, value = line.partition("=")
        if key not in _KEY_LINES:
            self._lines.append(line)
            self.started = self.started or line.endswith(STARTED)
        elif key == "HOST_PORT":
            self.host_port = value
        elif key == "LOG_FILE":
            self.log_file = Path(value)
        elif key == "RECORDED":
            self.recorded = Path(value)
        elif key == "COUNTS":
            self.counts = parse_counts(value)
        else:
            self.lines_skipped += int(value)
