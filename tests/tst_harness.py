"""The headless program as a harness drives it: the event stream, the control socket, the host
link and the COUNTS line, from outside the process."""
import json
import os
import resource
import signal
import re
import socket
import threading
import time

import pytest
import serial

from simhost import (PROGRAM, Control, Simulator, check_events, read_events, wait_for,
                     wire, write_folder)

# Beyond what a JSON number in Qt holds exactly; --seed must repeat the run.
SEED = 2**64 - 1
PROFILE = """seed = 11
[framing]
terminator = "[CR][LF]"
[values.target]
initial = "0"
[[rule]]
name = "read"
match = "T?[CR][LF]"
answer = "{target}[CR][LF]"
[[rule]]
name = "flaky"
match = "F[CR][LF]"
answer = "FLAKY[CR][LF]"
truncate = { every = 1, keep = 2 }
drop = { every = 1, enabled = false }
"""
COUNTS = re.compile(r"COUNTS=(commands_seen=\d+ answered=\d+ dropped=\d+ "
                    r"bytes_in=\d+ bytes_out=\d+ refused=\d+)")


def counts(sim):
    """The COUNTS line, the last of standard output, once the reader has it."""
    wait_for(lambda: sim.lines and sim.lines[-1].startswith("COUNTS="), 5, "the COUNTS line")
    found = [COUNTS.fullmatch(line) for line in sim.lines if line.startswith("COUNTS=")]
    assert len(found) == 1 and found[0], sim.lines[-3:]
    return {key: int(n) for key, n in (pair.split("=") for pair in found[0][1].split())}


@pytest.fixture
def run(tmp_path):
    """A run of the faulty profile with events to a file and a control socket."""
    write_folder(tmp_path, b"1", b"1")
    (tmp_path / "p.toml").write_text(PROFILE)
    sim = Simulator(PROGRAM, tmp_path, "--profile", str(tmp_path / "p.toml"), "--seed", str(SEED),
                    "--events", str(tmp_path / "events"), "--control", str(tmp_path / "ctl"))
    sim.socket_path = tmp_path / "ctl"
    sim.control = Control(sim.socket_path)
    sim.host = serial.Serial(sim.host_port, 9600, timeout=1)
    yield sim
    sim.host.close()
    sim.control.close()
    if sim.process.poll() is None:
        sim.stop()


def exchange(host, command, until=b"\r\n"):
    host.write(command)
    return host.read_until(until) if until else host.read(64)


def test_events_tell_the_wire_as_the_host_saw_it(run, tmp_path):
    written = [b"T?\r\n", b"F\r\n", b"X\r\n"]
    read = [exchange(run.host, written[0]), exchange(run.host, written[1], b"FL")]
    run.host.write(written[2])
    assert run.control.ask({"cmd": "send", "hex": "0d0a"})["ok"]
    read.append(run.host.read(2))
    time.sleep(0.2)
    run.stop()
    events = read_events(tmp_path / "events")
    check_events(events)
    kinds = [e["kind"] for e in events]
    assert kinds[0] == "start" and kinds[-1] == "stop"
    assert {"received", "sent", "answer", "fault", "unanswered"} <= set(kinds)
    assert events[0]["seed"] == SEED and events[0]["profile"] == str(tmp_path / "p.toml")
    assert wire(events, "sent") == b"".join(read) == b"0\r\nFL\r\n"
    assert wire(events, "received") == b"".join(written)
    answers = [e for e in events if e["kind"] == "answer"]
    assert [(a["rule"], a["command_text"], a["text"], a["faults"]) for a in answers] == [
        ("read", "T?[CR][LF]", "0[CR][LF]", []), ("flaky", "F[CR][LF]", "FL", ["truncate"])]
    fault = next(e for e in events if e["kind"] == "fault")
    assert (fault["rule"], fault["faults"], fault["command_hex"]) == ("flaky", ["truncate"], "460d0a")
    assert next(e for e in events if e["kind"] == "unanswered")["text"] == "X[CR][LF]"
    assert counts(run) == {"commands_seen": 3, "answered": 2, "dropped": 1,
                           "bytes_in": len(b"".join(written)), "bytes_out": 7, "refused": 0}


def until(condition, step, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        step()


def test_a_flood_the_host_stops_reading_shows_the_rest_of_the_kinds(tmp_path):
    """Events unread while the host reads: skipped. Then the host stops reading: the port
    refuses output (port), and what it holds at the stop is dropped (dropped_output)."""
    write_folder(tmp_path, b"0", b"0", b"0123456789")
    fifo = tmp_path / "events"
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    sim = Simulator(PROGRAM, tmp_path, "--events", str(fifo), "--pace", "none")
    received, stream = bytearray(), bytearray()
    with serial.Serial(sim.host_port, 9600, timeout=0.1) as host:
        until(lambda: len(received) > 400_000, lambda: received.extend(host.read(65536)))
        os.set_blocking(reader, True)
        drain = threading.Thread(target=lambda: [stream.extend(chunk) for chunk in
                                                 iter(lambda: os.read(reader, 1 << 20), b"")])
        drain.start()
        # The notice comes once the writer has caught up; then the host stops reading.
        until(lambda: b'"skipped"' in stream, lambda: host.read(65536))
        until(lambda: b'"kind":"port"' in stream, lambda: time.sleep(0.05))
        sim.stop()
        drain.join(10)
    os.close(reader)
    events = [json.loads(line) for line in stream.splitlines()]
    check_events(events)
    by_kind = {e["kind"]: e for e in events}
    assert {"skipped", "port", "dropped_output", "sent"} <= set(by_kind), set(by_kind)
    sent = sum(len(e["hex"]) // 2 for e in events if e["kind"] == "sent")
    skipped = sum(e["count"] for e in events if e["kind"] == "skipped")
    assert sent + skipped * 10 >= counts(sim)["bytes_out"] > sent
    assert by_kind["dropped_output"]["bytes"] > 0
    assert by_kind["port"]["message"].startswith("送信できません")


def test_control_steers_the_running_profile(run, tmp_path):
    ask = run.control.ask
    assert ask({"cmd": "set", "name": "target", "value": "12.5"}) == {"ok": True}
    assert exchange(run.host, b"T?\r\n") == b"12.5\r\n"
    assert ask({"cmd": "fault", "rule": "flaky", "fault": "drop", "enabled": True})["ok"]
    run.host.timeout = 0.3
    assert exchange(run.host, b"F\r\n", None) == b""
    assert ask({"cmd": "fault", "rule": "", "fault": "drop", "enabled": False})["ok"]
    assert exchange(run.host, b"F\r\n", b"FL") == b"FL"
    (tmp_path / "bad.toml").write_text('[[rule]]\nmatch = "A"\nanswer = "{nope}"\n')
    bad = ask({"cmd": "load", "profile": str(tmp_path / "bad.toml")})
    assert not bad["ok"] and re.search(r"bad\.toml:3:\d+: .*nope", bad["error"]), bad
    assert exchange(run.host, b"T?\r\n") == b"12.5\r\n"
    os.mkfifo(tmp_path / "fifo.toml")
    assert "not a regular file" in ask({"cmd": "load", "profile": str(tmp_path / "fifo.toml")})["error"]
    (tmp_path / "good.toml").write_text('[framing]\nterminator = "[CR][LF]"\n'
                                        '[[rule]]\nmatch = "T?[CR][LF]"\nanswer = "NEW[CR][LF]"\n')
    # A command begun before the load is the old profile's; the next one is the new one's.
    run.host.write(b"T")
    time.sleep(0.05)
    # A request behind a load in the same write waits for the load's reply.
    load = json.dumps({"cmd": "load", "profile": str(tmp_path / "good.toml")}).encode()
    assert ask(load + b'\n{"cmd": "counters"}') == {"ok": True}
    assert "commands_seen" in json.loads(run.control._lines.readline())
    assert exchange(run.host, b"?\r\n") == b"12.5\r\n"
    assert exchange(run.host, b"T?\r\n") == b"NEW\r\n"
    loads = [e for e in read_events(tmp_path / "events") if e["kind"] == "load"]
    assert [e["profile"] for e in loads] == [str(tmp_path / "good.toml")] and loads[0]["seed"] == SEED
    assert ask({"cmd": "send", "text": "ALARM[CR][LF]"})["ok"]
    assert ask({"cmd": "send", "hex": "00FF"})["ok"]
    assert run.host.read(9) == b"ALARM\r\n\x00\xff"
    for request, error in [(b"{nope", "not JSON"), (b"[1]", "object"), (b"x" * 70000, "longer"),
                           (b"42", "object, not a number"), (b'"stop"', "object, not a string"),
                           ({"cmd": "fault", "fault": "drop"}, '"enabled" is missing'),
                           ({"cmd": "send", "text": "A[CRR]"}, "unknown name [CRR]"),
                           ({"cmd": "dance"}, "unknown cmd"), ({"cmd": "set", "name": "t"}, "value"),
                           ({"cmd": "set", "name": "nope", "value": "1"}, "nope"),
                           ({"cmd": "fault", "fault": "melt", "enabled": True}, "melt"),
                           ({"cmd": "fault", "fault": "garbage", "enabled": True}, "garbage"),
                           ({"cmd": "send", "hex": "0g"}, "hex"), ({"cmd": "send"}, "one of")]:
        reply = ask(request)
        assert reply["ok"] is False and error in reply["error"], (request, reply)
    counters = ask({"cmd": "counters"})
    assert counters == {"ok": True, "commands_seen": 6, "answered": 5, "dropped": 1,
                        "bytes_in": 22, "bytes_out": 34, "refused": 0}
    # What comes after the stop in the same write is not done, and says so.
    assert ask(b'{"cmd": "stop"}\n{"cmd": "send", "hex": "41"}') == {"ok": True}
    late = json.loads(run.control._lines.readline())
    assert late["ok"] is False and "stopping" in late["error"], late
    assert run.process.wait(10) == 0
    counters.pop("ok")
    assert counts(run) == counters


def test_a_client_that_never_reads_its_replies_is_let_go(run):
    idle = Control(run.socket_path)
    with pytest.raises((BrokenPipeError, ConnectionResetError)):
        for _ in range(1000):
            run.control.socket.sendall(b'{"cmd": "counters"}\n' * 1000)
    assert idle.ask({"cmd": "counters"})["ok"]
    assert exchange(run.host, b"T?\r\n") == b"0\r\n"
    idle.close()


def test_stale_leftovers_are_replaced_and_everything_made_goes_at_exit(tmp_path):
    control, link = tmp_path / "ctl", tmp_path / "link"
    leftover = socket.socket(socket.AF_UNIX)
    leftover.bind(str(control))
    leftover.close()
    link.symlink_to(tmp_path / "gone")
    write_folder(tmp_path, b"1", b"1")
    # Every event line ends so, and the first one is the start.
    sim = Simulator(PROGRAM, tmp_path, "--events", "-", "--control", str(control),
                    "--host-link", str(link), started='"v":1}')
    assert control.stat().st_mode & 0o7777 == 0o600
    assert os.readlink(link) == sim.host_port
    client = Control(control)
    assert client.ask({"cmd": "counters"})["ok"]
    client.close()
    sim.stop()
    assert counts(sim)["bytes_out"] == 0
    assert not control.exists() and not os.path.lexists(link)
    assert all(re.fullmatch(r"(HOST_PORT|LOG_FILE|COUNTS)=.*|\{.*\}", line) for line in sim.lines)


def reply_to(client, line):
    """The reply a client gets, also when it was let go before its request was read."""
    try:
        client.socket.sendall(line)
    except (BrokenPipeError, ConnectionResetError):
        pass
    return json.loads(client._lines.readline())


def test_clients_past_the_bound_or_the_descriptors_are_refused_and_the_socket_stays(tmp_path):
    write_folder(tmp_path, b"1", b"1")
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(256, hard), hard))
    try:
        sim = Simulator(PROGRAM, tmp_path, "--control", str(tmp_path / "ctl"))
    finally:
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    assert resource.prlimit(sim.process.pid, resource.RLIMIT_NOFILE) == (hard, hard)
    # Past the bound; then held to 64 descriptors, past what it has left.
    for limit, many, told in ((hard, 1001, "at most 1000"), (64, 100, "no descriptor left")):
        resource.prlimit(sim.process.pid, resource.RLIMIT_NOFILE, (limit, hard))
        clients = [Control(tmp_path / "ctl") for _ in range(many)]
        replies = [reply_to(client, b'{"cmd": "counters"}\n') for client in clients]
        assert replies[0]["ok"] and not replies[-1]["ok"] and told in replies[-1]["error"]
        assert all(r["ok"] or told in r["error"] for r in replies), replies
        for client in clients:
            client.close()
        time.sleep(0.2)
        answer = Control(tmp_path / "ctl").ask({"cmd": "counters"})
        assert answer["ok"], answer
    assert sim.stop() == 0 and sim.value("LOG_FILE")
    assert sum("no descriptor left" in line for line in sim.errors) == 1, sim.errors


def test_a_stop_answers_the_requests_that_wait_behind_a_load(run, tmp_path):
    big = tmp_path / "big.toml"
    big.write_text(PROFILE + "".join(f'[[rule]]\nmatch = "Q{i}"\nanswer = "R"\n'
                                     for i in range(200_000)))
    load = json.dumps({"cmd": "load", "profile": str(big)}).encode()
    run.control.socket.sendall(load + b'\n{"cmd": "counters"}\n')
    time.sleep(0.05)
    run.process.send_signal(signal.SIGTERM)
    replies = [json.loads(run.control._lines.readline()) for _ in range(2)]
    assert all(not r["ok"] and "stopping" in r["error"] for r in replies), replies
    assert run.process.wait(10) == 0
