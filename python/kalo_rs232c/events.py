"""The event stream: a file of JSON lines the program appends to, tailed in a thread."""
from __future__ import annotations

import json
import threading
from pathlib import Path
from typing import Any, Callable, Optional

Event = dict[str, Any]
EventPredicate = Callable[[Event], bool]

# How long the tail sleeps when the file has nothing new: well under any answer delay.
_POLL_SECONDS = 0.005


def parse_event(line: bytes) -> Event:
    """One event line; a line that is no JSON object is kept as kind "unparsed"."""
    text = line.decode("utf-8", errors="replace")
    try:
        event = json.loads(text)
    except ValueError:
        return {"kind": "unparsed", "line": text}
    return event if isinstance(event, dict) else {"kind": "unparsed", "line": text}


class EventTail:
    """Follows the events file from its first byte until ``finish()``.

    Waiters sleep on ``changed``, which is notified for each batch of new events.
    """

    def __init__(self, path: Path, changed: threading.Condition) -> None:
        self.path = path
        self.changed = changed
        self._events: list[Event] = []
        self._done = threading.Event()
        self._thread = threading.Thread(target=self._follow, daemon=True)
        self._thread.start()

    @property
    def events(self) -> list[Event]:
        """Every event so far, oldest first (a copy)."""
        with self.changed:
            return list(self._events)

    def find(self, kind: Optional[str], predicate: Optional[EventPredicate],
             since: int) -> tuple[Optional[Event], int]:
        """The first event from index ``since`` on of that kind that predicate accepts, and
        the index a later search may resume from."""
        with self.changed:
            for index in range(since, len(self._events)):
                event = self._events[index]
                if (kind is None or event.get("kind") == kind) and (
                        predicate is None or predicate(event)):
                    return event, index
            return None, len(self._events)

    def finish(self, timeout: float) -> None:
        """Reads what the file still holds, then stops following it."""
        self._done.set()
        self._thread.join(timeout)

    def _follow(self) -> None:
        stream = None
        pending = b""
        try:
            while True:
                # Decided before reading: once the writer has gone, one empty read is the end.
                last = self._done.is_set()
                if stream is None and self.path.exists():
                    stream = self.path.open("rb")
                chunk = stream.read() if stream is not None else b""
                if chunk:
                    *complete, pending = (pending + chunk).split(b"\n")
                    self._add([parse_event(line) for line in complete if line.strip()])
                elif last:
                    break
                else:
                    self._done.wait(_POLL_SECONDS)
        finally:
            if stream is not None:
                stream.close()

    def _add(self, events: list[Event]) -> None:
        with self.changed:
            self._events.extend(events)
            self.changed.notify_all()
