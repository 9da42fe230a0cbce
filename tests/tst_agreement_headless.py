"""Seeded sessions against the headless program on its own virtual port, from outside.

A pyserial host writes commands and noise and reads what comes, sometimes slowly; at the end
the saved log must tell exactly what the host read. Everything expected is worked out on this
side, with the Python package's notation, Python's cp932 codec, the host module's record writer
and this file's reader of saved logs: nothing of the program's is trusted here.
"""
import collections
import random
import re
import signal
import time

import pytest

from kalo_rs232c.notation import CONTROL_NAMES as NAMES, saved_lines, to_bytes
from simhost import PROGRAM, Simulator, SlowHost, record

STARTED = "通信を開始しました。".encode("cp932")
STOPPED = "通信を停止しました。".encode("cp932")
ARROW = "→".encode("cp932")
REFUSED = "送信できません: ".encode("cp932")
DROPPED = re.compile("^未送信のまま破棄しました: ([0-9]+) バイト \\(.+\\)$".encode("cp932"), re.S)
UNANSWERED = "応答なしで破棄した受信: ".encode("cp932")
DISAGREE = "SOUCHICMD.txt が PROTcol.txt と異なります (SOUCHICMD.txt を送信します): ".encode("cp932")

WINDOW = 1.0   # seconds from the first byte of an arrival until the input is judged
MARGIN = 0.25  # what the host's clock and the program's may differ by, at most


def shown(text):
    """A log line as standard output shows it: control characters by name."""
    return "".join(f"[{NAMES[ord(c)]}]" if ord(c) < 0x20 else "[DEL]" if c == "\x7f" else c
                   for c in text.decode("cp932"))


class Settings:
    """Random settings written by hand into the four files, and the bytes they put in force."""

    COMMANDS = ["ABC+[CR]+[LF]", "[ACK]+ODF+[NCK]", "", "ﾃｽ", "Q[CR]", "READ?[LF]", "READ", "測定[EOT]"]
    OUTPUTS = ["4569.12", "", "ﾃﾞｰﾀ", "[ACK]", "OK[CR][LF]", "値=1", "0123456789ABCDEF[CR][LF]" * 48]
    CONTINUOUS = ["99.99", "", "ﾃｽﾄ[CR][LF]", "[SXT]12.5[EOT]", "12.345,67.890[CR][LF]" * 96]

    def __init__(self, rng, folder, slow):
        self.continuous = rng.random() < 0.5
        self.interval = rng.choice(["0.2", "0.5", "1", "abc"])
        self.text = rng.choice(self.CONTINUOUS[-1:] if slow else self.CONTINUOUS)
        self.outputs = [rng.choice(self.OUTPUTS) for _ in range(5)]
        self.commands = [rng.choice(self.COMMANDS) for _ in range(5)]
        typed = [self.text, *self.commands, *self.outputs]
        self.sent = [to_bytes(t) for t in typed]
        protocol = record(b"0" if self.continuous else b"1", self.interval.encode(),
                          *(t.encode("cp932") for t in [self.text, *self.outputs, *self.commands]))
        variant = rng.choice(["agree", "agree", "missing", "differs"])
        self.disagree = variant == "differs"
        if self.disagree:
            self.sent[0] += b"#"
        utf8 = rng.random() < 0.3
        (folder / "PROTcol.txt").write_bytes(
            b"\xef\xbb\xbf" + protocol.decode("cp932").encode() if utf8 else protocol)
        if variant != "missing":
            (folder / "SOUCHICMD.txt").write_bytes(record(*self.sent))
        (folder / "ACSet.txt").write_bytes(record(b"1", b"38400", b"N", b"8", b"1"))
        (folder / "ACSet2.txt").write_bytes(record(b"1"))

    def command_bytes(self):
        return [c for c in self.sent[1:6] if c]

    def answer(self, command):
        return self.sent[6 + self.sent[1:6].index(command)]

    def continuous_line(self):
        """As typed, unless the bytes in force are not the typed text's: then those."""
        typed = self.text.encode("cp932")
        return typed if to_bytes(self.text) == self.sent[0] else self.sent[0]


class HeldInput:
    """What the program must hold of the host's input: see tests/support/heldinput.h."""

    def __init__(self, commands):
        self.commands, self.held, self.end, self.sure, self.verdicts = commands, b"", None, True, []

    def close_before(self, t):
        if self.end is None:
            return
        if t <= self.end + MARGIN:
            self.sure = self.sure and t < self.end - MARGIN
            return
        verdict = ("answered" if self.held in self.commands else
                   "kept" if any(c.startswith(self.held) for c in self.commands) else "dropped")
        if self.sure:
            self.verdicts.append((verdict, self.held))
        self.end = None
        if verdict != "kept":
            self.held = b""

    def arrive(self, t, data):
        self.close_before(t)
        if self.end is None:
            self.end = t + WINDOW
        self.held += data


def talk(rng, settings, host, seconds):
    """Commands, commands in two parts, noise and quiet spells until the run should end."""
    start = time.monotonic()
    while time.monotonic() - start < seconds - 0.3:
        commands = settings.command_bytes() or [b"Q\r"]
        kind = rng.choice(["command", "command", "split", "noise", "quiet"])
        if kind == "command":
            host.write(rng.choice(commands))
        elif kind == "split":
            command = rng.choice(commands)
            cut = rng.randrange(1, max(2, len(command)))
            host.write(command[:cut])
            time.sleep(rng.uniform(0.05, 0.5))
            host.write(command[cut:])
        elif kind == "noise":
            host.write(bytes(rng.randrange(256) for _ in range(rng.randrange(1, 10))))
        # Spells longer than a window let the model be sure how the program judged.
        time.sleep(rng.uniform(0.05, 0.5) if rng.random() < 0.4 else rng.uniform(1.3, 1.6))


def expected_wire(lines, settings):
    """The outputs the log names, less what each drop line says never reached the host."""
    wire, running, refused = b"", False, False
    for index, text in enumerate(lines[1:], start=1):
        if lines[index - 1] == STARTED and settings.continuous and settings.interval == "abc":
            assert text == '間隔 "abc" は数値でないため 1 秒で出力します'.encode("cp932")
        elif text == STARTED:
            running = True
        elif text == STOPPED:
            running = False
        elif text.startswith(REFUSED):
            refused = True
        elif DROPPED.match(text):
            count = int(DROPPED.match(text).group(1))
            assert 0 < count <= len(wire)
            wire = wire[:-count]
        elif text.startswith(UNANSWERED) or text.startswith(DISAGREE) and index == 1:
            pass
        else:
            assert running, text[:80]
            command = next((c for c in settings.command_bytes() if text.startswith(c + ARROW)), None)
            if command is not None:
                assert text == command + ARROW + settings.answer(command), text[:80]
                wire += settings.answer(command)
            else:
                assert settings.continuous and text == settings.continuous_line(), text[:80]
                wire += settings.sent[0]
    return wire, refused


@pytest.mark.parametrize("seed", range(1, 7))
def test_saved_log_tells_what_the_host_read(tmp_path, seed):
    rng = random.Random(seed)
    slow = rng.randrange(8, 64) / rng.uniform(0.02, 0.08) if seed % 2 == 0 else None
    settings = Settings(rng, tmp_path, slow)
    seconds = rng.uniform(3.0, 5.0)
    by_signal = rng.random() < 0.5
    options = [] if by_signal else ["--duration", f"{seconds:.2f}"]
    sim = Simulator(PROGRAM, tmp_path, *options)
    started = time.monotonic()
    host = SlowHost(sim.host_port, slow, baud=38400)
    talk(rng, settings, host, seconds)
    if by_signal:
        time.sleep(max(0.0, seconds - (time.monotonic() - started)))
        sim.process.send_signal(signal.SIGTERM)
    # The duration counts from the start, which the host learns a little late.
    stopped_at = time.monotonic() if by_signal else started + seconds - 0.2
    assert sim.wait(20) == 0, sim.errors
    out = sim.lines
    wire = host.finish()

    assert out[-2].startswith("LOG_FILE=")
    # What the port took; a stop may drop some of it before it reaches the host.
    assert int(re.search(r"COUNTS=.* bytes_out=(\d+)", out[-1]).group(1)) >= len(wire)
    lines = saved_lines(open(out[-2].removeprefix("LOG_FILE="), "rb").read())
    assert lines.count(STARTED) == 1 and lines.count(STOPPED) == 1
    assert (lines[1].startswith(DISAGREE)) == settings.disagree
    # Standard output shows the same lines, control characters by name; noise may hold
    # bytes that no two decoders of code page 932 show alike.
    assert len(out) == len(lines) + 3
    assert shown(lines[0]) == out[1]
    for line, printed in zip(lines[1:], out[2:-2]):
        if not line.startswith(UNANSWERED):
            assert shown(line) == re.sub(r"^\[[^]]*\] ", "", printed, count=1)
    expected, refused = expected_wire(lines, settings)
    assert wire == expected, (len(wire), len(expected))
    # A stop sends nothing more: no pending cycle, no answer whose window was still open.
    if by_signal and not slow:
        assert host.last_arrival <= stopped_at + MARGIN, host.last_arrival - stopped_at
    everything_written = b"".join(data for _, data in host.wrote)
    for line in lines:
        assert not line.startswith(UNANSWERED) or line[len(UNANSWERED):] in everything_written

    # Each input window the model is sure of: a whole command answered, noise that begins
    # no command dropped with its own line.
    held = HeldInput(settings.command_bytes())
    for at, data in host.wrote:
        held.arrive(at, data)
    held.close_before(stopped_at - MARGIN)
    logged = collections.Counter(lines)
    for verdict, data in held.verdicts:
        if verdict == "answered" and not refused:
            assert logged[data + ARROW + settings.answer(data)] > 0, data
        if verdict == "dropped":
            assert logged[UNANSWERED + data] > 0, data
