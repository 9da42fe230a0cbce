"""One headless simulator run on its own virtual port, driven from Python."""
from __future__ import annotations

import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import weakref
from pathlib import Path
from types import TracebackType
from typing import Any, Callable, Mapping, Optional, Sequence, Type, TypeVar, Union

from .control import ControlChannel
from .errors import ProfileRefused, SimulatorError, SimulatorExited, SimulatorTimeout
from .events import Event, EventPredicate, EventTail
from .output import ProgramOutput
from .program import find_program, headless_environment
from .settings import FILE_NAMES, Settings

PathLike = Union[str, "os.PathLike[str]"]
Found = TypeVar("Found")
EXIT_BAD_PROFILE = 3


class _Leftovers:
    """What a Simulator dropped without stop() leaves behind, ended when it is collected or
    the interpreter exits: a running program would otherwise outlive the test, and its
    folder would be removed under it."""

    def __init__(self) -> None:
        self.process: Optional[subprocess.Popen[bytes]] = None
        self.folders: list[Path] = []

    def __call__(self) -> None:
        process = self.process
        if process is not None and process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        for folder in self.folders:
            shutil.rmtree(folder, ignore_errors=True)


class Simulator:
    """``kalo_rs232c --headless --virtual-port`` as a context manager.

    The folder defaults to a new temporary one that lasts as long as this object, as the saved
    log lives there; pass a folder to keep it. A relative ``profile`` or ``folder`` is taken
    from the working directory. A folder without settings files gets the
    program's defaults; with a profile, the defaults answer on each receive instead of
    sending a continuous text. ``events`` and ``control`` add ``--events`` and
    ``--control`` in a private temporary folder, removed again by ``stop()``.
    """

    def __init__(self, folder: Optional[PathLike] = None, profile: Optional[PathLike] = None,
                 seed: Optional[int] = None, duration: Optional[float] = None,
                 args: Sequence[str] = (), *,
                 settings: Union[Settings, Mapping[str, Any], None] = None,
                 program: Optional[str] = None, events: bool = True,
                 control: bool = True, start_timeout: float = 10.0) -> None:
        self.program = program or find_program()
        self.folder = Path(folder) if folder is not None else None
        self.profile = Path(profile) if profile is not None else None
        self.seed = seed
        self.duration = duration
        self.args = list(args)
        self.settings = settings
        self.start_timeout = start_timeout
        self._want_events = events
        self._want_control = control
        self._changed = threading.Condition()
        self._process: Optional[subprocess.Popen[bytes]] = None
        self._output: Optional[ProgramOutput] = None
        self._events: Optional[EventTail] = None
        self._control: Optional[ControlChannel] = None
        self._run_folder: Optional[Path] = None
        self._leftovers = _Leftovers()
        weakref.finalize(self, self._leftovers)

    # Starting

    def start(self) -> Simulator:
        """Starts the program and returns once it answers (its start line or start event)."""
        if self._process is not None:
            raise SimulatorError("this simulator has been started already")
        self.folder = self._prepare_folder()
        command = [self.program, "--headless", "--folder", str(self.folder)]
        virtual = not any(arg == "--port" or arg.startswith("--port=") for arg in self.args)
        if virtual:
            command.append("--virtual-port")
        if self.profile is not None:
            command += ["--profile", str(self.profile)]
        if self.seed is not None:
            command += ["--seed", str(self.seed)]
        if self.duration is not None:
            command += ["--duration", repr(float(self.duration))]
        command += self._stream_options() + self.args
        try:
            self._process = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                             env=headless_environment())
        except OSError as error:
            self._leftovers()
            raise SimulatorError(f"{self.program} cannot be run: {error}") from error
        self._leftovers.process = self._process
        self._output = ProgramOutput(self._process, self._changed)
        if self._run_folder is not None and self._want_events:
            self._events = EventTail(self._run_folder / "events.jsonl", self._changed)
        output = self._output
        try:
            self._wait_until(lambda: (output.host_port is not None or not virtual) and (
                output.started or self._event_seen("start")), self.start_timeout, "its start")
        except BaseException:
            self._abandon()
            raise
        return self

    def _prepare_folder(self) -> Path:
        if self.folder is None:
            folder = Path(tempfile.mkdtemp(prefix="kalo_rs232c-"))
            self._leftovers.folders.append(folder)
        else:
            folder = self.folder
            folder.mkdir(parents=True, exist_ok=True)
        settings = self.settings
        if settings is None and not any((folder / name).exists() for name in FILE_NAMES):
            settings = Settings(continuous=False, patterns=()) if self.profile else Settings()
        if settings is not None:
            Settings.of(settings).write(folder)
        return folder.resolve()

    def _stream_options(self) -> list[str]:
        if not (self._want_events or self._want_control):
            return []
        # Short, because a socket path has at most 107 bytes.
        self._run_folder = Path(tempfile.mkdtemp(prefix="kalo-"))
        self._leftovers.folders.append(self._run_folder)
        options = []
        if self._want_events:
            options += ["--events", str(self._run_folder / "events.jsonl")]
        if self._want_control:
            self._control = ControlChannel(self._run_folder / "control.sock")
            options += ["--control", str(self._control.path)]
        return options

    # What the run shows

    @property
    def port(self) -> str:
        """The host end of the virtual port, for the host software under test."""
        if self._output is None or self._output.host_port is None:
            raise SimulatorError("no virtual port: the simulator is not running on one")
        return self._output.host_port

    @property
    def lines(self) -> list[str]:
        """The log lines printed so far (a copy)."""
        return self._running_output().lines

    @property
    def events(self) -> list[Event]:
        """The events so far, parsed, oldest first (a copy)."""
        return self._running_events().events

    @property
    def pid(self) -> Optional[int]:
        """The program's process id, once started."""
        return None if self._process is None else self._process.pid

    @property
    def returncode(self) -> Optional[int]:
        return None if self._process is None else self._process.poll()

    @property
    def log_file(self) -> Optional[Path]:
        """The saved log, once the run has ended."""
        return self._running_output().log_file

    @property
    def recorded(self) -> Optional[Path]:
        """The profile a ``--record`` run wrote, once the run has ended."""
        return self._running_output().recorded

    @property
    def counts(self) -> Optional[dict[str, int]]:
        """The COUNTS= line at the end of the run, as numbers."""
        return self._running_output().counts

    @property
    def lines_skipped(self) -> int:
        """Log lines the program left out of stdout because it was read too slowly."""
        return self._running_output().lines_skipped

    def wait_for_line(self, ending: str, timeout: float = 5.0, since: int = 0) -> str:
        """The first log line from index ``since`` on that ends with ``ending``."""
        return self._wait_for(self._running_output().find, (ending,), since, timeout,
                              f"a line ending {ending!r}")

    def wait_for_event(self, kind: Optional[str], predicate: Optional[EventPredicate] = None,
                       timeout: float = 5.0, since: int = 0) -> Event:
        """The first event from index ``since`` on of that kind (None: any) that predicate
        accepts, waiting up to timeout seconds for it."""
        return self._wait_for(self._running_events().find, (kind, predicate), since, timeout,
                              f"a {kind or 'any'} event")

    # Control

    def control(self, cmd: str, **fields: Any) -> dict[str, Any]:
        """One control request; returns the reply, raises ControlError when it says no."""
        if self._control is None:
            raise SimulatorError("this run has no control channel (control=False)")
        return self._control.request(cmd, **fields)

    def set_value(self, name: str, value: Any) -> None:
        """Sets a profile value, given as the text the profile would hold."""
        self.control("set", name=name, value=str(value))

    def call(self, function: str, *args: Any) -> Any:
        """Calls a global function of the profile's Lua script; returns its first result."""
        return self.control("call", function=function, args=list(args)).get("result")

    def fault(self, fault: str, rule: str = "", enabled: bool = True) -> None:
        """Switches a profile fault on or off, for one rule or ("") for all."""
        self.control("fault", rule=rule, fault=fault, enabled=enabled)

    def send(self, data: Union[bytes, str]) -> None:
        """Sends bytes, or a text in the notation of profiles ("ALARM[CR][LF]"), at once."""
        if isinstance(data, (bytes, bytearray)):
            self.control("send", hex=bytes(data).hex())
        else:
            self.control("send", text=data)

    def counters(self) -> dict[str, int]:
        """Commands seen, answered and dropped, and bytes in and out, so far."""
        reply = self.control("counters")
        return {name: value for name, value in reply.items() if name != "ok"}

    def load_profile(self, profile: PathLike) -> None:
        """Plays another profile from now on; a bad one is refused and the old one stays."""
        self.control("load", profile=str(Path(profile).resolve()))

    # Stopping

    def stop(self, timeout: float = 10.0) -> Path:
        """Stops as SIGTERM does and returns the saved log's path.

        Raises SimulatorExited when the run did not end with a saved log.
        """
        process = self._running_process()
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        return self.wait(timeout)

    def wait(self, timeout: float = 10.0) -> Path:
        """Waits for the run to end by itself (``duration``, a stop request) and returns the
        saved log's path; kills it after timeout seconds."""
        process = self._running_process()
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            self._abandon()
            raise SimulatorError(f"the simulator did not end within {timeout} s; "
                                 "killed") from None
        self._finish_streams(timeout)
        output = self._running_output()
        if process.returncode != 0 or output.log_file is None:
            raise self._exited("the run ended without a saved log")
        return output.log_file

    def __enter__(self) -> Simulator:
        return self if self._process is not None else self.start()

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        if error is None:
            self.stop()
        else:
            # The test's own failure is the news; the run is only ended and tidied.
            try:
                self.stop()
            except SimulatorError:
                pass

    # Helpers

    def _running_process(self) -> subprocess.Popen[bytes]:
        if self._process is None:
            raise SimulatorError("this simulator was never started")
        return self._process

    def _running_output(self) -> ProgramOutput:
        if self._output is None:
            raise SimulatorError("this simulator was never started")
        return self._output

    def _running_events(self) -> EventTail:
        if self._events is None:
            raise SimulatorError("this run has no event stream (events=False)")
        return self._events

    def _event_seen(self, kind: str) -> bool:
        return self._events is not None and self._events.find(kind, None, 0)[0] is not None

    def _wait_for(self, find: Callable[..., tuple[Optional[Found], int]], what: tuple[Any, ...],
                  since: int, timeout: float, description: str) -> Found:
        # Each look resumes where the last one ended: a flood of lines stays linear.
        found: list[Optional[Found]] = [None]
        position = [since]

        def seen() -> bool:
            found[0], position[0] = find(*what, position[0])
            return found[0] is not None

        self._wait_until(seen, timeout, description)
        assert found[0] is not None
        return found[0]

    def _wait_until(self, condition: Callable[[], bool], timeout: float, what: str) -> None:
        """Waits for condition, failing early with the program's words when it has ended."""
        deadline = time.monotonic() + timeout
        output = self._running_output()
        with self._changed:
            while not condition():
                if output.closed:
                    # Events written just before the end may still be on their way.
                    self._changed.release()
                    try:
                        self._finish_streams(timeout=2.0)
                    finally:
                        self._changed.acquire()
                    if condition():
                        return
                    raise self._exited(f"the simulator ended before {what}")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise SimulatorTimeout(f"timed out after {timeout} s waiting for {what}",
                                           output.lines)
                self._changed.wait(left)

    def _finish_streams(self, timeout: float) -> None:
        if self._process is not None:
            try:
                self._process.wait(timeout)
            except subprocess.TimeoutExpired:
                pass
        if self._output is not None:
            self._output.join(timeout)
        if self._events is not None:
            self._events.finish(timeout)
        if self._control is not None:
            self._control.close()
        if self._run_folder is not None and self._process is not None \
                and self._process.poll() is not None:
            shutil.rmtree(self._run_folder, ignore_errors=True)

    def _exited(self, message: str) -> SimulatorExited:
        output = self._running_output()
        code = self.returncode
        if code is not None:
            message += f" (exit code {code})"
        error = ProfileRefused if code == EXIT_BAD_PROFILE else SimulatorExited
        return error(message, code, output.stderr, output.lines)

    def _abandon(self) -> None:
        """Kills a run that cannot be used and collects what it left."""
        if self._process is not None and self._process.poll() is None:
            self._process.kill()
        self._finish_streams(timeout=5.0)
