#!/usr/bin/python3
"""Figures of a profile load while the line is busy.

usage: load_figures.py PROGRAM [--quick]
Prints "FIGURE|name|value|unit|target|before" lines, as the benchmarks do.

The simulator runs headless on its virtual port with a one-rule profile (terminator CR LF,
no delay) and a control socket; pyserial under /usr/bin/python3 plays the host, writing "P"
CR LF and timing until it holds "OK" CR LF, one command every 5 ms. Meanwhile the control
client asks for a "load" of a profile of 100,000 rules (20,000 with --quick) that answers
"P" the same way. Figures: how long the load took (request to reply), the worst answer round
trip while it ran and the worst one in a second before it, for scale. "before" is the
program that read and compiled a loaded profile on the event loop, measured by this script.
"""
import sys
import tempfile
import threading
import time
from pathlib import Path

import serial

sys.path.insert(0, str(Path(__file__).parent.parent.parent / "tests" / "host"))
from simhost import (ANSWER, COMMAND, ONE_RULE, Control, Simulator,  # noqa: E402
                     report, round_trip_ms, write_folder)


def big_profile(path, rules):
    parts = [ONE_RULE]
    parts += [f'[[rule]]\nmatch = "Q{i}[CR][LF]"\nanswer = "R{i}[CR][LF]"\n' for i in range(rules)]
    path.write_text("".join(parts))


class Prober(threading.Thread):
    """Round trips one after the other, each stamped with when it began."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.port, self.times, self.running = port, [], True

    def run(self):
        with serial.Serial(self.port, 9600, timeout=5) as host:
            while self.running:
                began = time.monotonic()
                self.times.append((began, round_trip_ms(host, COMMAND, ANSWER)))
                time.sleep(0.005)

    def worst(self, start, end):
        within = [ms for began, ms in self.times if start <= began <= end]
        return max(within) if within else float("nan")


def main():
    program = sys.argv[1]
    rules = 20_000 if "--quick" in sys.argv else 100_000
    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        folder = work / "load"
        folder.mkdir()
        write_folder(folder, b"1", b"1")
        (folder / "Instrument.toml").write_text(ONE_RULE)
        big_profile(work / "big.toml", rules)
        with Simulator(program, folder, "--control", str(work / "ctl")) as sim:
            prober = Prober(sim.host_port)
            prober.start()
            client = Control(work / "ctl", timeout=60)
            time.sleep(1.0)
            asked = time.monotonic()
            reply = client.ask({"cmd": "load", "profile": str(work / "big.toml")})
            replied = time.monotonic()
            time.sleep(0.5)
            # Back to the small one: the large one in force is put away meanwhile.
            (work / "small.toml").write_text(ONE_RULE)
            back_asked = time.monotonic()
            back = client.ask({"cmd": "load", "profile": str(work / "small.toml")})
            time.sleep(0.5)
            prober.running = False
            prober.join(10)
            client.close()
            if not reply.get("ok") or not back.get("ok"):
                sys.exit(f"load_figures: a load failed: {reply} {back}")
        report(f"load of {rules:,} rules, request to reply", (replied - asked) * 1000, "ms")
        report("worst answer round trip while it loads", prober.worst(asked, replied + 0.1),
               "ms", "<= 50", "621")
        report("worst answer round trip while it gives way to a one-rule profile",
               prober.worst(back_asked, back_asked + 0.5), "ms", "<= 50", "113")
        report("worst answer round trip in the second before", prober.worst(asked - 1, asked),
               "ms")


if __name__ == "__main__":
    main()
