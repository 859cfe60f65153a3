#!/usr/bin/python3
"""Writes mdev_gaps.dat and mdev_gaps_reference.csv.

mdev_gaps.dat is a stream log (a first word, then one interval in ticks a line) of 20 kHz
pulses: 2000-tick periods, Gaussian jitter of 2 ticks and a slow random walk of the rate, stamped
by a counter of whole ticks, with one pulse in 300 missing and two dropouts of 40 and 700 pulses.

mdev_gaps_reference.csv holds MDEV and TDEV at the octave factors, computed here on their own
with numpy over the phase x(k) = t(k) - k tau0 (tau0 = t_last / K), NaN at the missing pulses:
the term at start i is the mean of the second differences x(i+j+2m) - 2 x(i+j+m) + x(i+j),
j = 0 .. m - 1, that have all three points, taken where at least half of the m do;
MVAR = mean(term^2) / (2 tau^2). Not part of the build: run it with /usr/bin/python3 to remake
the files.

Columns: m,n,mdev,tdev (tdev in seconds).
"""
import csv
import math
import os

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
TICK = 25e-9
PERIOD = 2000.0
INDICES = 12_001


def stamps():
    rng = np.random.default_rng(20240517)
    k = np.arange(INDICES)
    rate = np.cumsum(rng.normal(0, 0.002, INDICES))  # ticks a period
    t = np.floor(1000.37 + k * PERIOD + np.cumsum(rate) + rng.normal(0, 2, INDICES))
    keep = (k % 300) != 150
    keep[3000:3040] = False
    keep[6000:6700] = False
    return k[keep], t[keep].astype(np.int64)


def octaves(last):
    m = 1
    while 4 * m <= last:
        yield m
        m *= 2


def modified(x, m, tau0):
    d2 = x[2 * m:] - 2 * x[m:-m] + x[:-2 * m]
    present = ~np.isnan(d2)
    sums = np.concatenate(([0.0], np.cumsum(np.where(present, d2, 0.0))))
    counts = np.concatenate(([0], np.cumsum(present)))
    window = sums[m:] - sums[:-m]
    count = counts[m:] - counts[:-m]
    taken = 2 * count >= m
    terms = window[taken] / count[taken]
    n = int(taken.sum())
    if n == 0:
        return 0, None, None
    tau = m * tau0
    mdev = math.sqrt(float(np.mean(terms * terms)) / 2) / tau
    return n, mdev, tau * mdev / math.sqrt(3) * TICK


def main():
    index, t = stamps()
    index = index - index[0]
    t = t - t[0]
    with open(os.path.join(HERE, "mdev_gaps.dat"), "w") as log:
        log.write("123456\n")
        for d in np.diff(t):
            log.write(f"{d}\n")
    last = int(index[-1])
    tau0 = t[-1] / last
    x = np.full(last + 1, np.nan)
    x[index] = t - index * tau0
    with open(os.path.join(HERE, "mdev_gaps_reference.csv"), "w", newline="") as out:
        w = csv.writer(out, lineterminator="\n")
        w.writerow(["m", "n", "mdev", "tdev"])
        for m in octaves(last):
            n, mdev, tdev = modified(x, m, tau0)
            if n:
                w.writerow([m, n, f"{mdev:.12g}", f"{tdev:.12g}"])


if __name__ == "__main__":
    main()
