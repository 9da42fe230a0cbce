"""A second opinion on the cable's bit-level model, written apart from the program's: the
sender's frames drawn tick by tick as a list of levels, and a naive receiver walked over them,
one tick at a time. A format is (baud, data bits, parity "N"/"E"/"O", stop bits in halves).
"""
import math

MARK, SPACE = 1, 0


def parity_bit(parity, data):
    ones = bin(data).count("1") & 1
    return {"E": ones, "O": ones ^ 1}.get(parity, 0)


def waveform(data, sender, half_ticks):
    """The line from a long rest at mark, the bytes back to back, then a long rest again."""
    baud, bits, parity, stop_halves = sender
    rest = [MARK] * (40 * half_ticks)
    line = list(rest)
    for byte in data:
        byte &= (1 << bits) - 1
        frame = [SPACE] + [(byte >> i) & 1 for i in range(bits)]
        if parity != "N":
            frame.append(parity_bit(parity, byte))
        for level in frame:
            line += [level] * (2 * half_ticks)
        line += [MARK] * (stop_halves * half_ticks)
    return line + rest


def receive(line, receiver, half_ticks, inpck=False, ignpar=False, parmrk=False):
    """What the receiving driver hands its reader: an erroneous byte passes as read without
    INPCK; with it, it becomes 00, ff 00 and the byte with PARMRK, or nothing with IGNPAR.
    PARMRK doubles a good ff."""
    _, bits, parity, _ = receiver
    got = bytearray()
    t = 1
    sample = lambda index: line[start + (2 * index + 1) * half_ticks]  # noqa: E731
    while t < len(line):
        if not (line[t - 1] == MARK and line[t] == SPACE):
            t += 1
            continue
        start = t
        if sample(0) == MARK:  # a glitch
            t = start + half_ticks + 1
            continue
        data = sum(sample(1 + i) << i for i in range(bits))
        bad = parity != "N" and sample(1 + bits) != parity_bit(parity, data)
        stop = 1 + bits + (parity != "N")
        bad = bad or sample(stop) == SPACE
        if not (bad and inpck):
            got += bytes([data, data]) if parmrk and data == 0xFF else bytes([data])
        elif not ignpar:
            got += bytes([0xFF, 0, data]) if parmrk else b"\0"
        t = start + (2 * stop + 1) * half_ticks + 1
    return bytes(got)


def carried(data, sender, receiver, **flags):
    """data sent at sender's settings as a receiver at receiver's reads it."""
    common = math.lcm(2 * sender[0], 2 * receiver[0])
    rate = common * math.ceil(1_000_000 / common)
    line = waveform(data, sender, rate // (2 * sender[0]))
    return receive(line, receiver, rate // (2 * receiver[0]), **flags)
