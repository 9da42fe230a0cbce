"""Profiles that keep state and compute in Lua, played on the virtual port as a host sees them."""
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest
import serial

from kalo_rs232c import Simulator, saved_lines
from simhost import PROGRAM

PROFILES = Path(__file__).parent.parent / "examples" / "profiles"
# The bench supply exactly as its reference first shows it, with its script beside it.
SUPPLY = Path(__file__).parent / "golden" / "psu-as-written.toml"
# Command, then what the host reads back: a line, a count of bytes, or nothing.
SUPPLY_TALK = [(b"VSET 12.5\n", None), (b"OUT1\n", None), (b"VOUT?\n", b"12.500\n"),
               (b"POWER?\n", b"15.625\n"), (b"STATUS?\n", b"\x41"), (b"OUT0\n", None),
               (b"VOUT?\n", b"0.000\n"), (b"STATUS?\n", b"\x01"), (b"VSET 99\n", b"ERR range\n"),
               (b"VOUT?\n", b"0.000\n")]


def write(folder, name, text):
    path = Path(folder) / name
    path.write_text(text)
    return path


def talk(port, exchanges, baud=9600):
    """Each command, then its answer read by length; a command without one gets a short quiet."""
    answers = []
    with serial.Serial(port, baud, timeout=2) as host:
        for command, expected in exchanges:
            host.write(command)
            if expected is None:
                host.timeout = 0.15
                answers.append(host.read(64) or None)
                host.timeout = 2
            else:
                answers.append(host.read(len(expected)))
    return answers


def test_the_bench_supply_keeps_its_state_and_computes(tmp_path):
    with Simulator(tmp_path, SUPPLY) as sim:
        answers = talk(sim.port, SUPPLY_TALK)
        lines = sim.lines
    assert answers == [expected for _, expected in SUPPLY_TALK]
    assert any("9600,N,8,1" in line for line in lines), lines


def test_the_example_supply_limits_its_current_and_a_test_can_trip_it(tmp_path):
    with Simulator(tmp_path, PROFILES / "psu.toml") as sim:
        answers = talk(sim.port, [(b"VSET 20\n", None), (b"ISET 0.5\n", None), (b"OUT1\n", None),
                                  (b"VOUT?\n", b"5.000\n"), (b"STATUS?\n", b"\x61"),
                                  (b"ISET 9\n", b"ERR range\n")])
        assert sim.call("trip") == "tripped"
        sim.control("set", name="vset", value="3.000")
        after = talk(sim.port, [(b"VOUT?\n", b"0.000\n"), (b"OUT1\n", None),
                                (b"POWER?\n", b"0.900\n"), (b"*IDN?\n", b"KALO,PSU-3010,0001,1.0\n")])
        with pytest.raises(Exception, match="no function 'nothing'"):
            sim.control("call", function="nothing")
    assert answers == [None, None, None, b"5.000\n", b"\x61", b"ERR range\n"]
    assert after == [b"0.000\n", None, b"0.900\n", b"KALO,PSU-3010,0001,1.0\n"]


# A profile of one rule; its answer or Lua goes where the row puts it.
def one_rule(answer, extra="", script=None):
    head = f'script = "{script}"\n' if script else ""
    return (head + '[framing]\nterminator = "[LF]"\n[values.stored]\ninitial = "01"\nformat = "be16"\n'
            + extra + f'[[rule]]\nregex = \'Q(.*)\\n\'\nanswer = "{answer}"\n')


@pytest.mark.parametrize("name,toml,lua,problem", [
    ("lua syntax", one_rule("x"), "function f(\n  return 1\nend\n", r"s\.lua:2:1: .*near 'return'"),
    ("expression syntax", one_rule("{= 1 + }[LF]"), None, r"p\.toml:8:1: unexpected symbol"),
    ("when syntax", one_rule("x") + 'when = "cap[1] =="\n', None, r"p\.toml:9:1: unexpected symbol"),
    ("unclosed expression", one_rule("{= f(1 [LF]"), None, r"p\.toml:8:\d+: '\{=' without"),
    ("keyword value", one_rule("x", "[values.end]\ninitial = \"1\"\n"), None,
     r"p\.toml:6:\d+: value name 'end' is a word of Lua"),
    ("helper value", one_rule("x", "[values.hex]\ninitial = \"1\"\n"), None,
     r"p\.toml:6:\d+: value name 'hex' would hide the helper hex\(\)"),
    ("missing script", one_rule("x", script="none.lua"), None, r"p\.toml:1:\d+: script \"none\.lua\": "),
])
def test_lua_that_cannot_load_is_refused_with_its_place(tmp_path, name, toml, lua, problem):
    if lua is not None:
        write(tmp_path, "s.lua", lua)
        toml = 'script = "s.lua"\n' + toml
    profile = write(tmp_path, "p.toml", toml)
    result = subprocess.run([PROGRAM, "--check-profile", str(profile)], capture_output=True,
                            text=True, timeout=30)
    assert result.returncode == 3, result.stderr
    assert re.search(problem, result.stderr), result.stderr


@pytest.mark.parametrize("answer,reason", [
    ("{= spin() }", r"s\.lua:1: script ran past its budget"),
    ("{= hog() }", r"script ran past its memory budget"),
    ("{= os.execute('true') }", r"unknown name 'os'"),
    ("{= io.open('x') }", r"unknown name 'io'"),
    ("{= require('../etc/passwd') }", r"no plain module name"),
    ("{= load('return 1')() }", r"unknown name 'load'"),
    ("{= nosuch + 1 }", r"unknown name 'nosuch'"),
])
def test_lua_that_fails_while_answering_leaves_the_command_unanswered_and_the_line_going(
        tmp_path, answer, reason):
    write(tmp_path, "s.lua", "function spin() while true do end end\n"
                             "function hog() local s, t = ('x'):rep(1 << 20), {} "
                             "for i = 1, 1e9 do t[i] = s .. i end end\n")
    profile = write(tmp_path, "p.toml", 'script = "s.lua"\n[framing]\nterminator = "[LF]"\n'
                    f'[[rule]]\nmatch = "BAD[LF]"\nanswer = "{answer}[LF]"\n'
                    '[[rule]]\nmatch = "OK?[LF]"\nanswer = "{= 6 * 7 }[LF]"\n')
    with Simulator(tmp_path / "run", profile) as sim:
        answers = talk(sim.port, [(b"BAD\n", None), (b"BAD\n", None), (b"OK?\n", b"42\n")])
        unanswered = sim.wait_for_event("unanswered")
        first = sim.events.index(sim.wait_for_event("script_error"))
        errors = [sim.events[first], sim.wait_for_event("script_error", since=first + 1)]
        lines = sim.lines
    assert answers == [None, None, b"42\n"]
    assert re.search(reason, unanswered["reason"]), unanswered
    assert len(errors) == 2 and all(re.search(reason, e["message"]) for e in errors), errors
    # Logged once for the rule, however often it fails.
    assert sum("スクリプトのエラー (rule 1)" in line for line in lines) == 1, lines


GAPS = """[framing]
terminator = "[LF]"
[values.raw]
initial = "AB"
format = "be16"
[values.count]
initial = 0
format = "be16"
[values.a]
initial = "0"
[values.b]
initial = "0"
[values.reading]
sequence = [1.5, 2.5]
[[rule]]
regex = 'W(..)\\n'
set = { raw = "{1}", count = "{= count + 1 }" }
answer = "{raw}{count}"
[[rule]]
regex = 'S(.)\\n'
set = { b = "{= a .. cap[1] }", a = "{1}" }
answer = "{a}{b}[LF]"
[[rule]]
match = "NMEA[LF]"
answer = "${check_start}GPXXX,1{check_end}*{xor}[CR][LF]"
[[rule]]
match = "CRC[LF]"
answer = "{check_start}123456789{check_end}{crc16_ccitt:hex}{crc16_xmodem:hex}{crc32:hex}{crc8}"
[[rule]]
match = "M[LF]"
when = "reading ~= nil"
[[rule.part]]
text = "0[CR]"
[[rule.part]]
text = "{reading}[CR]"
delay_ms = 300
"""


def test_the_gaps_hosts_found_are_closed(tmp_path):
    """Bytes stay bytes and numbers numbers, set keys go in file order, a checksum range ends,
    the CRC kinds have their check values, and an answer in parts keeps its pause."""
    profile = write(tmp_path, "p.toml", GAPS)
    with Simulator(tmp_path / "run", profile) as sim:
        answers = talk(sim.port, [(b"W01\n", b"01\x00\x01"), (b"W\x00\x07\n", b"\x00\x07\x00\x02"),
                                  (b"Sx\n", b"x0x\n"),
                                  (b"NMEA\n", b"$GPXXX,1*52\r\n"),
                                  (b"CRC\n", b"12345678929B131C3CBF43926F4")])
        with serial.Serial(sim.port, 9600, timeout=2) as host:
            host.write(b"M\n")
            first = host.read(2)
            begun = time.monotonic()
            second = host.read(4)
            pause = time.monotonic() - begun
    assert answers[:2] == [b"01\x00\x01", b"\x00\x07\x00\x02"]
    # b sees the a of before (file order: b first), then a takes the capture.
    assert answers[2] == b"x0x\n"
    assert answers[3] == b"$GPXXX,1*52\r\n"
    assert answers[4] == b"12345678929B131C3CBF43926F4"
    assert (first, second) == (b"0\r", b"1.5\r") and 0.25 < pause < 0.6, pause


def test_a_script_requires_what_lies_beside_it_and_the_control_channel_reaches_its_state(tmp_path):
    """require finds a module beside the profile; set of a name that is no value sets a global
    of the script, a number stays a number; a 7E1 line on the virtual port is carried as 8N1."""
    write(tmp_path, "units.lua", "local m = {}\nfunction m.scaled(x) return x * gain end\nreturn m\n")
    write(tmp_path, "s.lua", 'units = require "units"\ngain = 2\n'
                             'function reading() return string.format("%.1f", units.scaled(level)) end\n')
    profile = write(tmp_path, "p.toml", 'script = "s.lua"\n[line]\nspeed = 9600\ndata_bits = 7\n'
                    'parity = "E"\n[framing]\nterminator = "[LF]"\n[values.level]\ninitial = 1.5\n'
                    'format = "be16"\n[[rule]]\nmatch = "R[LF]"\nanswer = "{= reading() }[LF]"\n'
                    '[[rule]]\nmatch = "L[LF]"\nanswer = "{level}"\n')
    with Simulator(tmp_path / "run", profile) as sim:
        before = talk(sim.port, [(b"R\n", b"3.0\n")])
        sim.control("set", name="gain", value=10)
        sim.control("set", name="level", value=258)
        after = talk(sim.port, [(b"R\n", b"2580.0\n"), (b"L\n", b"\x01\x02")])
        lines = sim.lines
    assert (before, after) == ([b"3.0\n"], [b"2580.0\n", b"\x01\x02"])
    assert any("9600,E,7,1" in line and "9600,N,8,1" in line for line in lines), lines


def test_the_documented_walk_through_plays_as_its_text_says(tmp_path):
    page = (Path(__file__).parent.parent / "docs" / "profiles.md").read_text()
    section = page[page.index("## A walk-through"):]
    toml = re.search(r"```toml\n(.*?)```", section, re.S).group(1)
    lua = re.search(r"```lua\n(.*?)```", section, re.S).group(1)
    write(tmp_path, "scale.lua", lua)
    profile = write(tmp_path, "p.toml", toml)
    with Simulator(tmp_path / "run", profile) as sim:
        answers = talk(sim.port, [(b"W\r\n", b"+0100.00 g\r\n"), (b"SET 12.5\r\n", b"OK\r\n"),
                                  (b"T?\r\n", b"12.5\r\n"), (b"SET 900\r\n", b"ERR\r\n"),
                                  (b"H?\r\n", b"1 12.5\r\n"), (b"X\r\n", None)])
    assert answers == [b"+0100.00 g\r\n", b"OK\r\n", b"12.5\r\n", b"ERR\r\n", b"1 12.5\r\n", None]


def test_a_drawn_value_is_drawn_once_per_answer_and_only_when_read(tmp_path):
    """A when that reads a drawn value fixes its reading for the answer that follows; one that
    does not read it leaves it where it was."""
    profile = write(tmp_path, "p.toml", '[framing]\nterminator = "[LF]"\n'
                    '[values.n]\nsequence = ["1", "2", "3"]\n'
                    '[[rule]]\nmatch = "A[LF]"\nwhen = "n == \'1\'"\nanswer = "a{n}[LF]"\n'
                    '[[rule]]\nmatch = "A[LF]"\nanswer = "b{n}{= n }[LF]"\n'
                    '[[rule]]\nmatch = "D[LF]"\nwhen = "false"\nanswer = "never[LF]"\n'
                    '[[rule]]\nmatch = "D[LF]"\nanswer = "d{n}[LF]"\n')
    with Simulator(tmp_path / "run", profile) as sim:
        answers = talk(sim.port, [(b"A\n", b"a1\n"), (b"A\n", b"b22\n"), (b"D\n", b"d3\n"),
                                  (b"A\n", b"a1\n")])
    assert answers == [b"a1\n", b"b22\n", b"d3\n", b"a1\n"]
