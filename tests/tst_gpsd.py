"""The GPS receiver of examples/profiles as gpsd, Debian's GPS daemon, reads it on the virtual
port: a 3D fix where the profile stands, on the whole UTC second, every checksum good."""
import functools
import json
import math
import operator
import os
import shutil
import socket
import subprocess
import time
import tomllib
from datetime import datetime, timedelta, timezone
from pathlib import Path

import pytest

from kalo_rs232c import Simulator

PROFILE = Path(__file__).parent.parent / "examples" / "profiles" / "gps-nmea.toml"
# /usr/sbin is not on a user's PATH on Debian.
GPSD = shutil.which("gpsd", path=os.environ.get("PATH", "") + os.pathsep + "/usr/sbin")
# What gpsd 3.22 logs at -D 1 for a sentence whose checksum is wrong; the sentence is dropped.
BAD_CHECKSUM = "bad checksum in NMEA packet"
# A whole GSA with a checksum that is not its own, for gpsd to refuse.
BODY = b"GPGSA,A,3,02,05,12,13,15,18,24,25,29,,,,1.6,0.9,1.3"
BAD_SENTENCE = b"$%s*%02X\r\n" % (BODY, functools.reduce(operator.xor, BODY) ^ 0xFF)

pytestmark = pytest.mark.skipif(GPSD is None, reason="gpsd is not installed (apt install gpsd)")


def own_ipc_namespace():
    """unshare's words for a namespace of gpsd's own. gpsd always publishes its fixes in
    shared memory, the NTP segments among it; in the machine's own it would leave them behind
    and could feed the clock service there with the simulator's time."""
    unshare = shutil.which("unshare")
    words = ["--ipc"] if os.geteuid() == 0 else ["--user", "--map-root-user", "--ipc"]
    if unshare and subprocess.run([unshare, *words, "true"], capture_output=True).returncode == 0:
        return [unshare, *words]
    return []


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Gpsd:
    """gpsd in the foreground on one device, unprivileged, on a free port of its own so that
    runs side by side do not meet, its warnings in a log file."""

    def __init__(self, device, log, speed):
        self.log, self.port, self.pending = log, free_port(), b""
        # -N foreground, -n read the device before any client asks, -b never write to it
        # (no probing of the receiver), -D 1 warnings, -s the receiver's speed: gpsd does not
        # hunt for the speed of a pseudo-terminal, and the virtual port carries the line's.
        with open(log, "wb") as out:
            self.process = subprocess.Popen(
                [*own_ipc_namespace(), GPSD, "-N", "-n", "-b", "-S", str(self.port), "-D", "1",
                 "-s", str(speed), device], stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def __enter__(self):
        deadline = time.monotonic() + 5
        while True:
            try:
                self.client = socket.create_connection(("127.0.0.1", self.port), timeout=0.5)
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    pytest.fail(f"gpsd does not listen on {self.port}:\n{self.log_text()}")
                time.sleep(0.05)
        self.client.sendall(b'?WATCH={"enable":true,"json":true};\n')
        return self

    def __exit__(self, *_):
        self.client.close()
        self.stop()

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def log_text(self):
        return self.log.read_text(errors="replace")

    def reports(self, seconds):
        """gpsd's reports as they come, each with the UTC time it came, for so long."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if b"\n" in self.pending:
                line, self.pending = self.pending.split(b"\n", 1)
                yield json.loads(line), datetime.now(timezone.utc)
                continue
            try:
                chunk = self.client.recv(65536)
            except socket.timeout:
                continue
            assert chunk, f"gpsd closed the connection:\n{self.log_text()}"
            self.pending += chunk

    def wait_for_log(self, text, seconds):
        deadline = time.monotonic() + seconds
        while text not in self.log_text() and time.monotonic() < deadline:
            time.sleep(0.05)
        return self.log_text()


def timed_fixes(gpsd, count, seconds=15):
    """The first count TPV reports of a 3D fix with a time, one per second of fix time."""
    fixes = {}
    for report, came in gpsd.reports(seconds):
        if report["class"] == "TPV" and report.get("mode") == 3 and "time" in report:
            fixes.setdefault(report["time"], (report, came))
            if len(fixes) == count:
                return list(fixes.values())
    pytest.fail(f"no {count} timed 3D fixes in {seconds} s: {list(fixes)}\n{gpsd.log_text()}")


def degrees(minutes_text):
    """ddmm.mmmm (dddmm.mmmm) as degrees."""
    whole, minutes = divmod(minutes_text, 100)
    return whole + minutes / 60


def test_gpsd_has_a_3d_fix_where_the_receiver_stands_on_the_whole_utc_second(tmp_path,
                                                                           monkeypatch):
    # A local time nine hours from UTC: a time field written in local time would show.
    monkeypatch.setenv("TZ", "JST-9")
    walks = {name: value["walk"] for name, value in
             tomllib.loads(PROFILE.read_text())["values"].items() if "walk" in value}
    bounds = {"lat": (degrees(walks["latitude"]["min"]), degrees(walks["latitude"]["max"])),
              "lon": (degrees(walks["longitude"]["min"]), degrees(walks["longitude"]["max"])),
              "altMSL": (walks["altitude"]["min"], walks["altitude"]["max"])}
    with Simulator(profile=PROFILE, folder=tmp_path / "kalo") as sim, \
            Gpsd(sim.port, tmp_path / "gpsd.log", tomllib.loads(PROFILE.read_text())["line"]["speed"]) as gpsd:
        fixes = timed_fixes(gpsd, 2)
        log_of_the_fixes = gpsd.log_text()
        # The same log must tell a wrong checksum, or its silence above proves nothing.
        sim.send(BAD_SENTENCE)
        told = gpsd.wait_for_log(BAD_CHECKSUM, 3)
    assert BAD_CHECKSUM not in log_of_the_fixes, log_of_the_fixes
    assert BAD_CHECKSUM in told, f"gpsd no longer says {BAD_CHECKSUM!r}:\n{told}"

    times = [datetime.fromisoformat(fix["time"].replace("Z", "+00:00")) for fix, _ in fixes]
    assert [b - a for a, b in zip(times, times[1:])] == [timedelta(seconds=1)], times
    for (fix, came), at in zip(fixes, times):
        assert fix["mode"] == 3
        assert timedelta(0) <= came - at <= timedelta(seconds=2), (fix["time"], came)
        assert at.microsecond == 0, fix["time"]
        for key, (low, high) in bounds.items():
            assert low - 1e-7 <= fix.get(key, math.nan) <= high + 1e-7, (key, fix, low, high)
    assert len({(fix["lat"], fix["lon"]) for fix, _ in fixes}) > 1, "the position stands still"
