#!/usr/bin/env python3
"""Writes the example captures of this folder: a 1 kHz pulse train (40000 ticks of 25 ns) with a
few ticks of jitter, as a saved interval file (example.JIT), as a saved frequency file
(example-frequency.JIT) and as a raw dual-channel instrument reply (reply-dual.txt; channel 2
runs at 500 Hz). A fixed-seed generator keeps the files the same on every run."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
PERIOD1 = 40000  # ticks, 1 kHz
PERIOD2 = 80000  # ticks, 500 Hz
RECORDS = 25


def jitter(state):
    """A small linear congruential generator: returns (next state, offset in -6..6)."""
    state = (state * 1103515245 + 12345) % 2**31
    return state, state % 13 - 6


def intervals(period, count, seed):
    state, out = seed, []
    for _ in range(count):
        state, offset = jitter(state)
        out.append(period + offset)
    return out


def write(name, text):
    with open(os.path.join(HERE, name), "w", newline="") as f:
        f.write(text)


def general(value):
    """The general number form with 15 significant digits, as the window saves frequencies."""
    text = "%.15g" % value
    return text.upper().replace("E+", "E")


def main():
    ch1 = intervals(PERIOD1, RECORDS - 1, 7)
    ch2 = intervals(PERIOD2, RECORDS - 1, 11)

    lines = [";Sample,TDelta(x25ns)"] + ["%d,%d" % (i, v) for i, v in enumerate(ch1)]
    write("example.JIT", "\r\n".join(lines) + "\r\n")

    lines = [";Sample,Frequency(Hz)"]
    lines += ["%d,%s" % (i, general(1 / (v * 2.5e-8))) for i, v in enumerate(ch1)]
    write("example-frequency.JIT", "\r\n".join(lines) + "\r\n")

    # Time stamps start just below 2^32 so that channel 1 wraps its 32-bit counter on the way.
    stamp1, stamp2 = 0xFFF00000, 0x00100000
    lines = ["<K390><SAMPLES>%X,%X</SAMPLES>" % (RECORDS, RECORDS)]
    lines.append("%X,%X,%X" % (0, stamp1, stamp2))
    for k in range(1, RECORDS):
        stamp1 = (stamp1 + ch1[k - 1]) % 2**32
        stamp2 = stamp2 + ch2[k - 1]
        lines.append("%X,%X,%X" % (k, stamp1, stamp2))
    write("reply-dual.txt", "\r\n".join(lines) + "\r\n</K390>")


if __name__ == "__main__":
    main()
