#!/usr/bin/python3
"""Figures of the harness channels: the event stream under a flood, and the control socket.

usage: harness_figures.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

The simulator runs headless on its virtual port with a one-rule profile (terminator CR LF,
no delay); pyserial under /usr/bin/python3 plays the host on the host end.
- Answer round trip: the host writes "P" CR LF and times until it holds "OK" CR LF, one
  command at a time, without --events and with --events FILE; with it, the events written
  per second meanwhile.
- Flood: the host keeps 64 commands in flight (writes a batch, reads its answers) for some
  seconds. Commands answered per second without and with --events FILE; with it, the events
  written per second (received, sent, answer: three or more per command) and the events the
  writer had to skip.
- Control: round trip of {"cmd": "counters"} and of {"cmd": "set"} on the socket while the
  simulator is idle, one request at a time.
"""
import json
import sys
import tempfile
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import (ANSWER, COMMAND, ONE_RULE, Control, Simulator,  # noqa: E402
                     exchange_times, percentile, read_events, report, write_folder)

BATCH = 64


def start(program, work, name, *options):
    folder = work / name
    folder.mkdir()
    write_folder(folder, b"1", b"1")
    (folder / "Instrument.toml").write_text(ONE_RULE)
    return Simulator(program, folder, *options), folder


def flood(host, seconds):
    answered = 0
    began = time.perf_counter()
    while time.perf_counter() - began < seconds:
        host.write(COMMAND * BATCH)
        if host.read(len(ANSWER) * BATCH) != ANSWER * BATCH:
            sys.exit("harness_figures: the flood lost answers")
        answered += BATCH
    return answered, time.perf_counter() - began


def line_figures(program, work, name, label, count, seconds):
    events = work / f"{name}.events"
    sim, _ = start(program, work, name, *(["--events", str(events)] if label else []))
    written = lambda: events.read_bytes().count(b"\n") if label else 0
    try:
        with serial.Serial(sim.host_port, 9600, timeout=5) as host:
            began, at_start = time.perf_counter(), written()
            times = exchange_times([host], count, pause=0)[0]
            one_by_one = (written() - at_start) / (time.perf_counter() - began)
            before = written()
            answered, took = flood(host, seconds)
            during = written() - before
    finally:
        sim.stop()
    label = label or "without --events"
    for p in (50, 99):
        report(f"answer round trip {label}, p{p}", percentile(times, p), "ms")
    report(f"flood: commands answered per second {label}", answered / took, "1/s", decimals=0)
    if name == "plain":
        return
    report("events written per second meanwhile, one command at a time", one_by_one, "1/s",
           decimals=0)
    report("flood: events written per second to the file", during / took, "1/s", decimals=0)
    skipped = sum(e["count"] for e in read_events(events) if e["kind"] == "skipped")
    report("flood: events skipped", skipped, "", "0", decimals=0)


def control_figures(program, work, count):
    sim, folder = start(program, work, "control", "--control", str(work / "ctl"))
    client = Control(work / "ctl")
    try:
        for name, request in (("counters", {"cmd": "counters"}),
                              ("set", {"cmd": "set", "name": "target", "value": "1.5"})):
            times = []
            for _ in range(count):
                sent = time.perf_counter()
                if not client.ask(request)["ok"]:
                    sys.exit("harness_figures: " + json.dumps(request) + " failed")
                times.append((time.perf_counter() - sent) * 1000)
            times = times[count // 10:]
            for p in (50, 99):
                report(f"control round trip, {name}, p{p}", percentile(times, p), "ms")
    finally:
        client.close()
        sim.stop()


def main():
    program = sys.argv[1]
    quick = "--quick" in sys.argv
    count, seconds = (100, 1) if quick else (1000, 10)
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        line_figures(program, work, "plain", "", count, seconds)
        line_figures(program, work, "events", "with --events FILE", count, seconds)
        control_figures(program, work, count * 2)


if __name__ == "__main__":
    main()
