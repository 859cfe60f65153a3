#!/usr/bin/python3
"""Writes edf_reference.csv: the equivalent degrees of freedom and 68.3 % bounds (for a
deviation of 1) of each stability estimator for the five power-law noises, computed here on
their own from Greenhall and Riley's algorithm ("Uncertainty of stability variances based on
finite differences", 2003; NIST SP 1065 section 5.2) with the coefficient tables as the paper
prints them. Kernels in 40-digit decimals, quantiles from scipy. Not part of the build:
run it with /usr/bin/python3 (numpy and scipy) to remake the file.

Columns: deviation,alpha,n_phase,m,rounded,edf,min,max. rounded = 1 where a coefficient the
paper prints to three or four digits entered the value; edf empty where the method defines
none (the bounds too).
"""
import csv
import math
import sys
from decimal import Decimal, getcontext

from scipy.stats import chi2

getcontext().prec = 40
JMAX = 100

# deviation: (d, overlapping, modified)
ESTIMATORS = {
    "adev": (2, False, False),
    "oadev": (2, True, False),
    "mdev": (2, True, True),
    "tdev": (2, True, True),
    "hdev": (3, False, False),
    "ohdev": (3, True, False),
    "tierms": (1, True, False),
}

# Table 1 (modified, F = 1) and table 2 (unmodified, F = infinity): (a0, a1) by alpha, d.
TABLE1 = {
    2: [(2 / 3, 1 / 3), (7 / 9, 1 / 2), (22 / 25, 2 / 3)],
    1: [(0.840, 0.345), (0.997, 0.616), (1.141, 0.843)],
    0: [(1.079, 0.368), (1.033, 0.607), (1.184, 0.848)],
    -1: [None, (1.048, 0.534), (1.180, 0.816)],
    -2: [None, (1.302, 0.535), (1.175, 0.777)],
}
TABLE2 = {
    2: [(3 / 2, 1 / 2), (35 / 18, 1.0), (231 / 100, 3 / 2)],
    1: [(78.6, 25.2), (790.0, 410.0), (9950.0, 6520.0)],
    0: [(2 / 3, 1 / 6), (2 / 3, 1 / 3), (7 / 9, 1 / 2)],
    -1: [None, (0.852, 0.375), (0.997, 0.617)],
    -2: [None, (1.079, 0.368), (1.033, 0.607)],
}
# Table 3: sz(0) of flicker PM, unmodified, grows as b0 + b1 ln m.
TABLE3 = [(6.0, 4.0), (15.23, 12.0), (47.8, 40.0)]


def sw(t, alpha):
    a = abs(t)
    if a == 0:
        return Decimal(0)
    return {
        2: -a,
        1: a * a * a.ln(),
        0: a ** 3,
        -1: -(a ** 4) * a.ln(),
        -2: -(a ** 5),
    }[alpha]


def sx(t, F, alpha):
    if F is None:
        return sw(t, alpha + 2)
    h = 1 / F
    return F * F * (2 * sw(t, alpha) - sw(t - h, alpha) - sw(t + h, alpha))


def sz(t, F, alpha, d):
    return sum((-1) ** abs(k) * math.comb(2 * d, d + k) * sx(t - k, F, alpha)
               for k in range(-d, d + 1))


def basic_sum(J, M, S, F, alpha, d):
    J, M, S = Decimal(J), Decimal(M), Decimal(S)
    total = sz(Decimal(0), F, alpha, d) ** 2
    for j in range(1, int(J)):
        total += 2 * (1 - j / M) * sz(j / S, F, alpha, d) ** 2
    return total + (1 - J / M) * sz(J / S, F, alpha, d) ** 2


def inverse_edf(alpha, d, m, n, overlapping, modified):
    """1 / edf and whether a rounded coefficient entered it; None where there is none."""
    if alpha + 2 * d <= 1:
        return None
    F = 1 if modified else m
    S = m if overlapping else 1
    L = m // F + m * d
    if n < L:
        return None
    M = 1 + (S * (n - L)) // m
    J = min(M, (d + 1) * S)
    r = Decimal(M) / S
    if modified:
        if J <= JMAX:
            return basic_sum(J, M, S, Decimal(1), alpha, d) / (M * sz(Decimal(0), Decimal(1), alpha, d) ** 2), False
        if r >= d + 1:
            a0, a1 = (Decimal(v) for v in TABLE1[alpha][d - 1])
            return (a0 - a1 / r) / r, True
        mp = JMAX / r
        return basic_sum(JMAX, JMAX, mp, Decimal(1), alpha, d) / (JMAX * sz(Decimal(0), Decimal(1), alpha, d) ** 2), False
    if alpha == 2:
        K = math.ceil(r)
        total = Decimal(1)
        for k in range(1, min(d, K - 1) + 1):
            total += 2 * (1 - k / r) * (Decimal(math.comb(2 * d, d - k)) / math.comb(2 * d, d)) ** 2
        return total / M, False
    if alpha <= 0:
        if J <= JMAX:
            Fu = Decimal(m) if m * (d + 1) <= JMAX else None
            return basic_sum(J, M, S, Fu, alpha, d) / (M * sz(Decimal(0), Fu, alpha, d) ** 2), False
        if r >= d + 1:
            a0, a1 = (Decimal(v) for v in TABLE2[alpha][d - 1])
            return (a0 - a1 / r) / r, True
        mp = JMAX / r
        return basic_sum(JMAX, JMAX, mp, None, alpha, d) / (JMAX * sz(Decimal(0), None, alpha, d) ** 2), False
    # alpha = 1, unmodified
    if J <= JMAX:
        Fm = Decimal(m)
        return basic_sum(J, M, S, Fm, 1, d) / (M * sz(Decimal(0), Fm, 1, d) ** 2), False
    b0, b1 = (Decimal(v) for v in TABLE3[d - 1])
    z0 = b0 + b1 * Decimal(m).ln()
    if r >= d + 1:
        a0, a1 = (Decimal(v) for v in TABLE2[1][d - 1])
        return (a0 - a1 / r) / (r * z0 * z0), True
    mp = JMAX / r
    return basic_sum(JMAX, JMAX, mp, mp, 1, d) / (JMAX * z0 * z0), True


def factors(n):
    picks = {1, 2, 5, 10, 33, 34, 40, 100, 1000, 2 ** 14, 2 ** 20, n // 4, n // 3 - 1, n // 5}
    return sorted(m for m in picks if 1 <= m <= n // 3)


def main(path):
    confidence = math.erf(1 / math.sqrt(2))
    tail = (1 - confidence) / 2
    with open(path, "w", newline="") as out:
        w = csv.writer(out, lineterminator="\n")
        w.writerow(["deviation", "alpha", "n_phase", "m", "rounded", "edf", "min", "max"])
        for name, (d, overlapping, modified) in ESTIMATORS.items():
            for alpha in (2, 1, 0, -1, -2):
                for n in (40, 1000, 241218, 10_000_000):
                    for m in factors(n):
                        got = inverse_edf(alpha, d, m, n, overlapping, modified)
                        if got is None:
                            w.writerow([name, alpha, n, m, 0, "", "", ""])
                            continue
                        edf = float(1 / got[0])
                        low = math.sqrt(edf / chi2.ppf(1 - tail, edf))
                        high = math.sqrt(edf / chi2.ppf(tail, edf))
                        w.writerow([name, alpha, n, m, int(got[1]), "%.10g" % edf, "%.10g" % low,
                                    "%.10g" % high])


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "edf_reference.csv")
