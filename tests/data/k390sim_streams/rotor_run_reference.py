#!/usr/bin/python3
"""Expected proving scan and periodic lines of rotor_run.dat beside this file, worked out apart
from k390cap's code, for the run record that a stream's summary carries.

The log was taken with `k390tool stream --transport tcp --words 12000` (a few more words arrive
before the stop) from
  k390sim --freq 5000 --pattern-positions 10 --pattern-pp-ticks 600
(jitter 2 ticks rms on the edges, the simulator's default): 2.4 s of a 10-blade rotor, long
enough for the default proving scan.

Proving: the default flight times (30, log spaced, from 10 ms to a tick short of the longest
that leaves 20 provings of 5 runs), and for each a pass-by-pass double chronometry with a
binary search for the first pulse after each detector switch; the rows are written to
rotor_run_reference.csv at full precision. Lines: the discrete Fourier transform of one
rotation's edge displacement from the simulator's description of its pattern (the fractional
parts of i times the golden ratio). Not part of the build; run it by hand with /usr/bin/python3.
"""
import math
import pathlib

import numpy as np

HERE = pathlib.Path(__file__).parent
TICK = 25e-9
GOLDEN = (1 + math.sqrt(5)) / 2
RUNS = 5
LIMIT = 0.05  # the published limit for 5 runs
RATE_HZ = 5000
BLADES = 10
PATTERN_PP_TICKS = 600


def stamps_of(name):
    lines = (HERE / name).read_text().split()
    deltas = np.array([int(v) for v in lines[1:]], dtype=np.int64)
    return np.concatenate(([0], np.cumsum(deltas)))


def default_flights(t):
    tau0 = t[-1] / (len(t) - 1)
    span = t[-1] - tau0 / 2
    longest = (span / (20 * RUNS) - 1) * TICK
    flights = [0.01 * (longest / 0.01) ** (i / 29) for i in range(30)]
    flights[-1] = longest
    return flights


def prove(t, flight_s):
    tau0 = t[-1] / (len(t) - 1)
    flight = flight_s / TICK
    ni = []
    j = 0
    while True:
        s1 = tau0 / 2 + j * flight
        s2 = s1 + flight
        if not s2 < t[-1]:
            break
        i1 = int(np.searchsorted(t, s1, side="right"))
        i2 = int(np.searchsorted(t, s2, side="right"))
        ni.append((i2 - i1) * flight / (t[i2] - t[i1]))
        j += 1
    provings = len(ni) // RUNS
    ni = np.array(ni[: provings * RUNS])
    repeats = sorted((g.max() - g.min()) / g.min() * 100 for g in ni.reshape(provings, RUNS))
    p95 = repeats[math.ceil(0.95 * provings) - 1]
    share = sum(r <= LIMIT for r in repeats) / provings
    sd = ni.std(ddof=1) / ni.mean() * 100
    return provings, ni.mean(), sd, float(np.median(repeats)), p95, share


def pattern_lines():
    dev = np.array([(i * GOLDEN) % 1 for i in range(1, BLADES + 1)])
    dev = dev - dev.mean()
    dev *= PATTERN_PP_TICKS / (dev.max() - dev.min())
    edge = np.concatenate(([0], np.cumsum(dev)[:-1]))  # edge n moves by the deviations before it
    spectrum = np.fft.fft(edge - edge.mean()) / BLADES
    for h in range(1, BLADES // 2 + 1):
        amp = abs(spectrum[h]) * (1 if 2 * h == BLADES else 2) * TICK
        print(f"  line {h * RATE_HZ / BLADES:.6g} Hz amplitude {amp:.6e} s")


t = stamps_of("rotor_run.dat")
out = ["flight_ms,provings,mean_pulses,sd_pct,repeat_median_pct,repeat_p95_pct,pass_share"]
shortest, passing_from = None, None
for flight_s in default_flights(t):
    provings, mean, sd, median, p95, share = prove(t, flight_s)
    out.append(f"{flight_s * 1000:.17g},{provings},{mean:.17g},{sd:.17g},{median:.17g},"
               f"{p95:.17g},{share:.17g}")
    passes = share >= 0.95
    if passes and shortest is None:
        shortest = flight_s * 1000
    if passes and passing_from is None:
        passing_from = flight_s * 1000
    if not passes:
        passing_from = None
(HERE / "rotor_run_reference.csv").write_text("\n".join(out) + "\n")
print(f"shortest_flight_ms_95 {shortest:.17g} passing_from_ms_95 {passing_from:.17g}")
pattern_lines()
