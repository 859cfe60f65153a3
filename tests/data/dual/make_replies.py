#!/usr/bin/python3
"""Writes the small dual replies the k390tool tests read, from exact edge times.

Each reply is what the instrument sends: a header with each channel's count, then records
"index,stamp1,stamp2" in hexadecimal, record k holding the k-th stamp of each channel (0 past a
channel's count), stamps rounded to whole 25 ns ticks. Run from this folder; not part of the build.
"""


def edges(first, period, n, dropped=(), extra=()):
    out = [first + k * period for k in range(n) if k not in dropped]
    out += [first + x * period for x in extra]
    return sorted(out)


def write(name, ch1, ch2):
    s1 = [round(t) for t in ch1]
    s2 = [round(t) for t in ch2]
    lines = ["<K390><SAMPLES>%X,%X</SAMPLES>" % (len(s1), len(s2))]
    for k in range(max(len(s1), len(s2))):
        a = s1[k] if k < len(s1) else 0
        b = s2[k] if k < len(s2) else 0
        lines.append("%X,%X,%X" % (k, a, b))
    lines.append("</K390>")
    with open(name, "w", newline="") as f:
        f.write("\r\n".join(lines))


P = 40000.37
# Quadrature at 90 degrees, 100 pulses a line: channel 2 loses pulse 40, channel 1 gains one
# 0.4 periods after pulse 60 (101 and 99 stamps).
write("quadrature_faults.reply", edges(1000, P, 100, extra=[60.4]),
      edges(1000 + 0.25 * P, P, 100, dropped=[40]))
# Channel 2 slips 4 ticks a pulse behind channel 1: a steady phase drift.
write("phase_ramp.reply", edges(0, 40000, 200), edges(10000, 40004, 200))
# Channel 1 at twice channel 2's rate, channel 2 a quarter of channel 1's period late.
write("half_rate.reply", edges(500, 20000.3, 200), edges(500 + 5000.075, 40000.6, 100))
# One channel only.
write("single_channel.reply", edges(0, 40000, 100), [])
