#!/usr/bin/python3
"""Expected proving, spectrum, pattern and drift figures of the k390sim stream logs beside this
file, worked out apart from k390tool's code: double chronometry pass by pass with a plain search
for the first pulse after each switch, the pattern from the simulator's description (the
fractional parts of i times the golden ratio), its lines from the discrete Fourier transform of
one rotation's edge displacement, and the drift rate from a polynomial fit of the stamps.
Not part of the build; run it by hand with /usr/bin/python3 and compare with the tests' tables.

The logs were taken with `k390tool stream --transport tcp --words 4000` from
  perfect.dat  k390sim --freq 20000 --jitter-ticks 0
  pattern.dat  k390sim --freq 20000 --jitter-ticks 0 --pattern-positions 10 --pattern-pp-ticks 100
  sine.dat     k390sim --freq 20000 --jitter-ticks 2 --sine-hz 371.7 --sine-ticks 40
  ramp.dat     k390sim --freq 20000 --jitter-ticks 0 --wander-pct 10 --wander-period-s 1000
"""
import math
import pathlib

import numpy as np

HERE = pathlib.Path(__file__).parent
TICK = 25e-9
GOLDEN = (1 + math.sqrt(5)) / 2
PUBLISHED = {3: 0.02, 4: 0.03, 5: 0.05, 6: 0.06, 10: 0.12, 15: 0.17, 20: 0.22}


def stamps_of(name):
    lines = (HERE / name).read_text().split()
    deltas = np.array([int(v) for v in lines[1:]], dtype=np.int64)
    return np.concatenate(([0], np.cumsum(deltas)))


def prove(t, flight_ms, runs, limit=None):
    tau0 = t[-1] / (len(t) - 1)
    flight = flight_ms * 1e-3 / TICK
    ni = []
    j = 0
    while True:
        s1 = tau0 / 2 + j * flight
        s2 = s1 + flight
        if not s2 < t[-1]:
            break
        i1 = next(i for i in range(len(t)) if t[i] > s1)
        i2 = next(i for i in range(i1, len(t)) if t[i] > s2)
        ni.append((i2 - i1) * flight / (t[i2] - t[i1]))
        j += 1
    provings = len(ni) // runs
    ni = np.array(ni[: provings * runs])
    repeats = sorted((g.max() - g.min()) / g.min() * 100 for g in ni.reshape(provings, runs))
    p95 = repeats[math.ceil(0.95 * provings) - 1]
    limit = PUBLISHED[runs] if limit is None else limit
    share = sum(r <= limit for r in repeats) / provings
    sd = ni.std(ddof=1) / ni.mean() * 100
    print(f"  prove {flight_ms} ms runs {runs}: provings {provings} mean {ni.mean():.10g} "
          f"sd_pct {sd:.6g} median {np.median(repeats):.6g} p95 {p95:.6g} share {share:.6g}")


def pattern(t, b):
    d = np.diff(t)
    means = np.array([d[p::b].mean() for p in range(b)])
    dev = (means - means.mean()) / means.mean() * 100
    print(f"  pattern {b}: pp_pct {dev.max() - dev.min():.6g} deviation_pct",
          " ".join(f"{v:.6g}" for v in dev))


def pattern_lines(b, pp_ticks, rate_hz):
    dev = np.array([(i * GOLDEN) % 1 for i in range(1, b + 1)])
    dev = dev - dev.mean()
    dev *= pp_ticks / (dev.max() - dev.min())
    edge = np.concatenate(([0], np.cumsum(dev)[:-1]))  # edge n moves by the deviations before it
    spectrum = np.fft.fft(edge - edge.mean()) / b
    for h in range(1, b // 2 + 1):
        amp = abs(spectrum[h]) * (1 if 2 * h == b else 2) * TICK
        print(f"  line {h * rate_hz / b:.6g} Hz amplitude {amp:.6e} s")


def drift(t):
    k = np.arange(len(t), dtype=float)
    u = (k - k[-1] / 2) / (k[-1] / 2)
    c = np.polynomial.polynomial.polyfit(u, t.astype(float) - k * t[-1] / k[-1], 2)
    half = k[-1] / 2
    period = t[-1] / k[-1] + c[1] / half  # ticks per pulse at the middle
    change = 2 * c[2] / half**2  # its change per pulse
    rate = -change / (period**3 * TICK**2)
    print(f"  frequency {1 / (period * TICK):.12g} Hz, rate {rate:.6g} Hz/s")


for name in ["perfect.dat", "pattern.dat", "sine.dat"]:
    print(name)
    t = stamps_of(name)
    for flight_ms in [1, 1.25, 2.5]:
        prove(t, flight_ms, 3 if name == "sine.dat" else 5)
for flight_ms in [1, 1.25, 2.5]:
    prove(stamps_of("sine.dat"), flight_ms, 3, limit=0.3)
print("pattern.dat")
pattern(stamps_of("pattern.dat"), 10)
pattern_lines(10, 100, 20000)
print("ramp.dat")
drift(stamps_of("ramp.dat"))
