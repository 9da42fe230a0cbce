"""--exec: a host program run on the virtual port sees its host end as a serial device of its
own, /dev/ttyUSB0 unless --device names another: a C host that uses the modem lines, and
Debian's sigrok-cli, which opens a port only with them, reading the Fluke profile."""
import json
import os
import resource
import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from simhost import PROGRAM, Control, check_events, read_events, wait_for

EXAMPLES = Path(__file__).parent.parent / "examples" / "profiles"
FLUKE = EXAMPLES / "fluke-dmm.toml"
MODEMHOST = os.environ.get("MODEMHOST", "modemhost")
SIGROK = shutil.which("sigrok-cli")


def run(tmp_path, *options, command, preexec=None, timeout=60):
    return subprocess.run(
        [PROGRAM, "--headless", "--folder", str(tmp_path / "folder"), "--profile", str(FLUKE),
         *options, "--exec", "--", *command],
        capture_output=True, timeout=timeout, preexec_fn=preexec)


def host_lines(stdout):
    """The JSON lines the host printed, among the program's own."""
    return [json.loads(line) for line in stdout.splitlines() if line.startswith(b"{")]


def test_a_c_host_gets_its_answer_and_the_lines_of_a_serial_port(tmp_path):
    events = tmp_path / "events.jsonl"
    result = run(tmp_path, "--events", str(events), command=[MODEMHOST, "/dev/ttyUSB0", "ID", "26"])
    assert result.returncode == 0, result
    seen = host_lines(result.stdout)
    assert {"speed": 9600, "cs8": True} in seen
    assert {"dtr": True, "rts": True, "cts": True, "dsr": True, "dcd": True, "ri": False} in seen
    assert {"changes": 0} in seen
    assert {"answer": "0\rFLUKE 187,V1.01,0012345\r"} in seen, seen
    recorded = read_events(events)
    check_events(recorded)
    assert [(e["dtr"], e["rts"]) for e in recorded if e["kind"] == "host_lines"][-1:] == [
        (True, True)]
    # The command arrives at the line's speed, so in one read or more.
    assert [e["ms"] >= 250 for e in recorded if e["kind"] == "break"] == [True]
    kinds = [e["kind"] for e in recorded if e["kind"] not in ("host_lines", "break")]
    kinds = [k for i, k in enumerate(kinds) if i == 0 or kinds[i - 1] != k]
    assert kinds == ["start", "received", "sent", "answer", "stop"]


def test_the_instrument_s_lines_come_from_the_profile_and_the_control_channel(tmp_path):
    """CTS down by the profile's [line]; the host waits on it (TIOCMIWAIT) until a control
    request raises it. The host's DTR and RTS are the profile's Lua globals dtr and rts."""
    profile = tmp_path / "lines.toml"
    rule = ('[[rule]]\nbreak = true\nanswer = "B[CR]"\n\n'
            '[[rule]]\nmatch = "L[CR]"\nwhen = "dtr and rts"\nlines = { dsr = false, ri = true }\n'
            'answer = "{= tostring(dtr) .. tostring(rts) }[CR]"\n\n')
    profile.write_text(FLUKE.read_text().replace("[line]\n", "[line]\ncts = false\n", 1)
                       .replace("[[rule]]", rule + "[[rule]]", 1))
    socket_path = tmp_path / "ctl"
    sim = subprocess.Popen(
        [PROGRAM, "--headless", "--folder", str(tmp_path / "folder"), "--profile", str(profile),
         "--control", str(socket_path), "--exec", "--", MODEMHOST, "/dev/ttyUSB0", "L", "11"],
        stdout=subprocess.PIPE, env={**os.environ, "WAIT": "1"})
    wait_for(socket_path.exists, 10, "the control socket")
    control = Control(str(socket_path))
    before = b""
    while b'"dtr"' not in before:  # the host prints its lines just before it waits
        line = sim.stdout.readline()
        assert line, before
        before += line
    time.sleep(0.3)
    assert control.ask({"cmd": "lines", "cts": True}) == {
        "ok": True, "cts": True, "dsr": True, "dcd": True, "ri": False}
    assert control.ask({"cmd": "lines", "rts": True})["ok"] is False
    out, _ = sim.communicate(timeout=20)
    assert sim.returncode == 0, out
    seen = host_lines(before + out)
    assert {"dtr": True, "rts": True, "cts": False, "dsr": True, "dcd": True, "ri": False} in seen
    assert {"cts after": True} in seen
    assert {"changes": 1} in seen
    # The host's break first (modemhost sends one before its command), then the command.
    assert {"answer": "B\rtruetrue\r"} in seen, seen
    # The rule that answered set the lines it names and left the others.
    assert {"after": {"cts": True, "dsr": False, "dcd": True, "ri": True}} in seen, seen


@pytest.mark.parametrize("command, code", [
    (["sh", "-c", "exit 3"], 3),
    (["sh", "-c", "kill -KILL $$"], 128 + signal.SIGKILL),
    (["sh", "-c", "exit 0"], 0),
])
def test_the_host_s_end_ends_the_run_with_its_exit_status(tmp_path, command, code):
    result = run(tmp_path, command=command)
    assert result.returncode == code, result
    assert b"LOG_FILE=" in result.stdout


def test_a_host_that_cannot_be_started_fails_the_run(tmp_path):
    result = run(tmp_path, command=[str(tmp_path / "no-such-host")])
    assert result.returncode == 1
    assert b"--exec: " + str(tmp_path / "no-such-host").encode() + b": cannot be started" \
        in result.stderr, result.stderr


@pytest.mark.parametrize("options, reason", [
    ([], b"--exec needs the host program after --"),
    (["--device", "/dev/sub/ttyX", "--exec", "--", "true"], b"is not a name in /dev"),
    (["--device", "ttyUSB0", "--exec", "--", "true"], b"is not a name in /dev"),
    (["--", "true"], b"a command after -- is for --exec"),
    (["--port", "/dev/null", "--exec", "--", "true"], b"--port names another"),
])
def test_a_command_line_that_cannot_run_a_host_is_refused(tmp_path, options, reason):
    arguments = options or ["--exec"]
    result = subprocess.run([PROGRAM, "--headless", "--folder", str(tmp_path), *arguments],
                            capture_output=True, timeout=30)
    assert result.returncode == 2 and reason in result.stderr, result


def test_only_the_host_and_its_children_see_the_device(tmp_path):
    # A child that drops the preload library is as blind as any other program.
    script = ("test -c /dev/ttyKALO7 && test -L /sys/class/tty/ttyKALO7"
              " && sh -c 'test -c /dev/ttyKALO7'"
              " && env -u LD_PRELOAD sh -c 'test ! -e /dev/ttyKALO7'")
    result = run(tmp_path, "--device", "/dev/ttyKALO7", command=["sh", "-c", script])
    assert result.returncode == 0, result
    assert not os.path.exists("/dev/ttyKALO7")
    assert not os.path.lexists("/sys/class/tty/ttyKALO7")


def test_the_host_gets_the_descriptor_limit_the_program_started_with(tmp_path):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard <= 256:
        pytest.skip(f"the hard limit {hard} leaves nothing to raise")
    result = run(tmp_path, command=["sh", "-c", "ulimit -n"],
                 preexec=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (256, hard)))
    assert result.returncode == 0, result
    assert b"\n256\n" in b"\n" + result.stdout, result.stdout


@pytest.mark.parametrize("stop_by", ["signal", "control"])
def test_a_stop_of_the_run_ends_the_host(tmp_path, stop_by):
    ended = tmp_path / "ended"
    control = tmp_path / "control.sock"
    script = f"trap 'echo TERM > {ended}; exit 7' TERM; while :; do sleep 0.1; done"
    program = subprocess.Popen(
        [PROGRAM, "--headless", "--folder", str(tmp_path / "folder"), "--profile", str(FLUKE),
         "--control", str(control), "--exec", "--", "sh", "-c", script],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        wait_for(control.exists, 15, "the control socket")
        time.sleep(0.3)
        if stop_by == "signal":
            program.send_signal(signal.SIGTERM)
        else:
            client = Control(control)
            assert client.ask({"cmd": "stop"})["ok"]
            client.close()
        out, _ = program.communicate(timeout=15)
    finally:
        program.kill()
    # The stop was the run's own: its status is the run's, not the host's 7.
    assert program.returncode == 0
    assert ended.read_text() == "TERM\n"
    assert b"LOG_FILE=" in out


@pytest.mark.skipif(SIGROK is None, reason="sigrok-cli is not installed (apt install sigrok-cli)")
def test_sigrok_cli_reads_three_readings_of_the_fluke_meter(tmp_path):
    result = run(tmp_path, command=[SIGROK, "--driver", "fluke-dmm:conn=/dev/ttyUSB0",
                                    "--samples", "3"])
    assert result.returncode == 0, result
    readings = [line for line in result.stdout.splitlines() if line.startswith(b"P1: ")]
    assert readings == [b"P1: 1.23 V DC", b"P1: 2.50 V DC", b"P1: 0.12 V DC"], result.stdout
