"""The control channel: JSON lines over the program's Unix-domain socket."""
from __future__ import annotations

import json
import socket
import threading
import time
from pathlib import Path
from typing import Any, Optional

from .errors import ControlError, SimulatorError

# How soon a connect that found no listener tries again while the program is starting.
_RETRY_SECONDS = 0.01


class ControlChannel:
    """One connection to ``--control PATH``, opened at the first request and kept.

    Requests from several threads take turns: each reply belongs to the request before it.
    """

    def __init__(self, path: Path, timeout: float = 5.0) -> None:
        self.path = path
        self.timeout = timeout
        self._lock = threading.Lock()
        self._socket: Optional[socket.socket] = None
        self._replies: Any = None
        self._closed = False

    def request(self, cmd: str, **fields: Any) -> dict[str, Any]:
        """Sends one request and returns its reply; raises ControlError on ``ok: false``."""
        request = {"cmd": cmd, **fields}
        line = json.dumps(request, ensure_ascii=False).encode("utf-8") + b"\n"
        with self._lock:
            if self._closed:
                raise SimulatorError(f"the simulator has stopped: no {cmd!r} any more")
            if self._socket is None:
                self._connect()
            assert self._socket is not None
            try:
                self._socket.sendall(line)
                answer = self._replies.readline()
            except OSError as error:
                self._close()
                raise SimulatorError(f"control channel {self.path}: {error}") from error
        if not answer:
            with self._lock:
                self._close()
            raise SimulatorError(f"control channel {self.path} closed before answering {cmd!r}")
        try:
            reply = json.loads(answer)
        except ValueError:
            reply = None
        if not isinstance(reply, dict):
            raise SimulatorError(f"control channel {self.path} answered {answer!r}")
        if not reply.get("ok"):
            raise ControlError(request, reply)
        return reply

    def close(self) -> None:
        """Ends the connection; later requests fail at once."""
        with self._lock:
            self._closed = True
            self._close()

    def _connect(self) -> None:
        deadline = time.monotonic() + self.timeout
        while True:
            sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            sock.settimeout(self.timeout)
            try:
                sock.connect(str(self.path))
                break
            except (FileNotFoundError, ConnectionRefusedError) as error:
                sock.close()
                if time.monotonic() >= deadline:
                    raise SimulatorError(f"no control channel at {self.path}: {error}") from error
                time.sleep(_RETRY_SECONDS)
        self._socket = sock
        self._replies = sock.makefile("rb")

    def _close(self) -> None:
        if self._socket is not None:
            self._replies.close()
            self._socket.close()
        self._socket = None
        self._replies = None
