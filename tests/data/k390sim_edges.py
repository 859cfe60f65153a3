#!/usr/bin/python3
"""Expected k390sim stamps for jitter-free meters, computed apart from the simulator's code.

Writes k390sim_edges.json beside this file: for each case its settings, the sample requests made
from a fresh simulator, and the stamps each request gets. The meter is worked out here from its
description (pulse n of channel 1 at n periods, channel 2 at m / ratio + phase / 360 of channel
1's pulse count, moved by the pattern, the sinusoid and the wander), by other means than the
simulator's: the pattern's edge offsets by summing the deviations pulse by pulse, the first
pulse after a request by a plain search. Before writing, it measures in its own stamps that each
feature is there as large as asked. Not part of the build; run it by hand with /usr/bin/python3.
"""
import json
import math
import pathlib

import numpy as np

TICKS_PER_S = 4e7
GOLDEN = (1 + math.sqrt(5)) / 2


def round_half_away(x):
    return int(math.copysign(math.floor(abs(x) + 0.5), x))


class Line:
    """One channel of the meter, pulse by pulse."""

    def __init__(self, case, channel):
        f1 = case["freq"]
        self.ref_period = TICKS_PER_S / f1
        hz = f1 if channel == 1 else case.get("ch2_freq", f1)
        self.period = TICKS_PER_S / hz
        self.start = case.get("start", 0)
        self.phase = case.get("ch2_phase_deg", 0) if channel == 2 else 0
        self.drift = case.get("ch2_phase_drift", 0) if channel == 2 else 0
        tag = "ch%d_" % channel
        self.drop = case.get(tag + "drop", 0)
        self.extra = case.get(tag + "extra", 0)
        self.extra_at = case.get("extra_at", 0.5)
        self.swap = case.get("swap", 0) if channel == 2 else 0
        self.case = case
        b = case.get("pattern_positions", 0)
        self.devs = []
        if b:
            raw = np.array([((j + 1) * GOLDEN) % 1.0 for j in range(b)])
            self.devs = (raw - raw.mean()) * case["pattern_pp_ticks"] / (raw.max() - raw.min())
            # Edge offsets over one rotation, pulse 1 to B, summed interval by interval.
            walk = [0.0]
            for n in range(1, b):
                walk.append(walk[-1] + self.devs[(n - 1) % b])
            self.centre = sum(walk) / b
        self.index = 0
        self.pending = None
        self.last = None

    def pattern(self, x):
        if not len(self.devs):
            return 0.0
        b = len(self.devs)

        def at(n):  # edge offset of channel 1 pulse n
            k = (n - 1) % b
            return sum(self.devs[:k]) - self.centre

        nearest = math.floor(x + 0.5)  # the later channel 1 pulse when halfway
        return at(nearest)

    def edge(self, number, swapped=False):
        """Ticks after the start, before rounding."""
        c = self.case
        even = number * self.period
        phase = self.phase + self.drift * even / TICKS_PER_S
        if swapped:
            phase = -phase
        t_ticks = even + phase * self.ref_period / 360
        x = number * self.period / self.ref_period + phase / 360
        moved = self.pattern(x)
        if c.get("sine_ticks", 0):
            moved += c["sine_ticks"] * math.sin(2 * math.pi * c["sine_hz"] * t_ticks / TICKS_PER_S)
        if c.get("wander_pct", 0):
            tw = c["wander_period_s"] * TICKS_PER_S
            moved -= c["wander_pct"] / 100 * tw / (2 * math.pi) * (1 - math.cos(2 * math.pi * t_ticks / tw))
        return t_ticks + moved

    def stamp(self, offset):
        s = (self.start + round_half_away(offset)) % 2**64
        if self.last is not None and (s - self.last) % 2**64 >= 2**63 or s == self.last:
            s = (self.last + 1) % 2**64
        self.last = s
        return s

    def next(self):
        while True:
            if self.pending is not None:
                at, self.pending = self.pending, None
                return self.stamp(self.edge(at))
            self.index += 1
            n = self.index
            swapped = self.swap and n % self.swap == 0
            if self.extra and n % self.extra == 0:
                self.pending = n + self.extra_at
            if not (self.drop and n % self.drop == 0):
                return self.stamp(self.edge(n, swapped))

    def skip_to(self, clock):
        ahead = (clock - self.start) % 2**64
        if ahead == 0 or ahead >= 2**63:
            return
        n = 1
        while self.edge(n) < ahead:
            n += 1
        if n - 1 > self.index:
            self.index = n - 1
            self.pending = None


def run(case):
    ch1, ch2 = Line(case, 1), Line(case, 2)
    clock = None
    replies = []
    for request in case["requests"]:
        dual, count = request["dual"], request["count"]
        if clock is not None:
            ch1.skip_to(clock)
            if dual:
                ch2.skip_to(clock)
        reply = {"ch1": [ch1.next() for _ in range(count)]}
        reply["ch2"] = [ch2.next() for _ in range(count)] if dual else []
        for s in reply["ch1"] + reply["ch2"]:
            if clock is None or 0 < (s + 1 - clock) % 2**64 < 2**63:
                clock = (s + 1) % 2**64
        replies.append(reply)
    return replies


def wrapped(a):
    return np.array([int(v) - 2**64 if v >= 2**63 else int(v) for v in a], dtype=np.float64)


def measure(name, case, replies):
    """Checks in the stamps themselves that each feature is as large and where asked."""
    f = case["freq"]
    p = TICKS_PER_S / f
    ch1 = wrapped(replies[0]["ch1"]) - case.get("start", 0)
    if name == "pattern":
        b, pp = case["pattern_positions"], case["pattern_pp_ticks"]
        dev = np.diff(ch1) - p  # interval from pulse n to n + 1 at position (n - 1) mod B
        per_position = [dev[j::b].mean() for j in range(b)]
        assert abs(max(per_position) - min(per_position) - pp) <= 1, per_position
        assert abs(ch1[b * 6] - ch1[0] - b * 6 * p) <= 1  # whole rotations keep the rate
        ch2 = wrapped(replies[0]["ch2"]) - case.get("start", 0)
        assert np.ptp(ch2 - ch1) <= 1  # the second pick-up sees each blade's error too
    if name == "sine":
        n = np.arange(1, len(ch1) + 1)
        t = n * p / TICKS_PER_S
        tie = ch1 - n * p
        basis = np.column_stack([np.sin(2 * np.pi * case["sine_hz"] * t),
                                 np.cos(2 * np.pi * case["sine_hz"] * t), np.ones_like(t)])
        coef = np.linalg.lstsq(basis, tie, rcond=None)[0]
        assert abs(math.hypot(coef[0], coef[1]) - case["sine_ticks"]) < 1, coef
    if name == "wander":
        dev = np.diff(ch1) / p - 1
        assert abs(dev.min() + case["wander_pct"] / 100) < 2e-3, dev.min()
        assert abs(dev.max() - case["wander_pct"] / 100) < 5e-3, dev.max()
    if name in ("quadrature_wrap", "reverse"):
        reply = replies[0]
        phase = (wrapped(reply["ch2"]) - wrapped(reply["ch1"])) / p * 360
        assert np.all(np.abs(phase - case["ch2_phase_deg"]) < 0.01), phase
    if name == "ratio_two":
        reply = replies[-1]
        assert abs(np.diff(wrapped(reply["ch2"])).mean() * 2 - p) < 1
    if name == "drift":
        reply = replies[0]
        phase = (wrapped(reply["ch2"]) - wrapped(reply["ch1"])) / p * 360
        t = (np.arange(1, len(phase) + 1)) * p / TICKS_PER_S
        slope = np.polyfit(t, phase, 1)[0]
        assert abs(slope - case["ch2_phase_drift"]) < 1, slope
    if name.startswith("drop_ch") or name.startswith("extra_ch"):
        line = "ch" + name[-1]
        reply = replies[0][line]
        steps = np.diff(wrapped(reply)) / p
        every = case[line + ("_drop" if name.startswith("drop") else "_extra")]
        if name.startswith("drop"):
            gaps = np.nonzero(np.abs(steps - 2) < 0.01)[0]
            assert list(gaps) == list(range(every - 2, len(steps), every - 1)), gaps
        else:
            # The gained pulse splits the interval after each multiple of `every` in two.
            short = np.nonzero(steps < 0.99)[0]
            split = [k + s for k in range(every - 1, len(steps), every + 1) for s in (0, 1)]
            assert list(short) == [k for k in split if k < len(steps)], short
    if name == "swap":
        reply = replies[0]
        lead = wrapped(reply["ch2"]) < wrapped(reply["ch1"])
        assert list(np.nonzero(lead)[0]) == list(range(case["swap"] - 1, len(lead), case["swap"]))


CASES = {
    "pattern": {"freq": 1000, "pattern_positions": 5, "pattern_pp_ticks": 400, "ch2_phase_deg": 90,
                "requests": [(True, 32)]},
    "pattern_ratio_half": {"freq": 1000, "ch2_freq": 500, "pattern_positions": 7,
                           "pattern_pp_ticks": 900, "ch2_phase_deg": 30, "requests": [(True, 30)]},
    "sine": {"freq": 1000, "sine_hz": 37, "sine_ticks": 300, "ch2_phase_deg": 90,
             "requests": [(False, 60), (True, 40)]},
    "wander": {"freq": 1000, "wander_pct": 20, "wander_period_s": 0.2,
               "requests": [(False, 150), (True, 100), (False, 20)]},
    "quadrature_wrap": {"freq": 500, "ch2_phase_deg": 90, "start": 4294900000,
                        "requests": [(True, 40)]},
    "reverse": {"freq": 500, "ch2_phase_deg": -90, "requests": [(True, 20)]},
    "ratio_two": {"freq": 1000, "ch2_freq": 2000, "ch2_phase_deg": 30,
                  "requests": [(False, 10), (True, 30)]},
    "drift": {"freq": 1000, "ch2_phase_deg": 10, "ch2_phase_drift": 2000, "requests": [(True, 60)]},
    "drop_ch1": {"freq": 1000, "ch2_phase_deg": 90, "ch1_drop": 7, "requests": [(True, 30)]},
    "drop_ch2": {"freq": 1000, "ch2_phase_deg": 90, "ch2_drop": 5, "requests": [(True, 30)]},
    "drop_both": {"freq": 1000, "ch2_phase_deg": 90, "ch1_drop": 10, "ch2_drop": 10,
                  "requests": [(True, 30)]},
    "extra_ch1": {"freq": 1000, "ch2_phase_deg": 90, "ch1_extra": 6, "requests": [(True, 30)]},
    "extra_ch2": {"freq": 1000, "ch2_phase_deg": 90, "ch2_extra": 4, "extra_at": 0.3,
                  "requests": [(True, 29), (False, 5), (True, 10)]},
    "swap": {"freq": 1000, "ch2_phase_deg": 60, "swap": 3, "requests": [(True, 30)]},
    "everything": {"freq": 2500, "start": 4294900000, "pattern_positions": 7,
                   "pattern_pp_ticks": 250, "sine_hz": 113, "sine_ticks": 80, "wander_pct": 2,
                   "wander_period_s": 0.05, "ch2_phase_deg": 72, "ch2_phase_drift": -30,
                   "ch1_drop": 9, "ch2_extra": 11, "extra_at": 0.7, "swap": 5,
                   "requests": [(False, 25), (True, 40), (False, 10), (True, 15)]},
    "plain_ch2_freq": {"freq": 2500, "ch2_freq": 1250, "requests": [(False, 20), (True, 20)]},
}


def main():
    out = []
    for name, settings in CASES.items():
        case = dict(settings)
        case["requests"] = [{"dual": d, "count": c} for d, c in settings["requests"]]
        replies = run(case)
        measure(name, case, replies)
        out.append({"name": name, "settings": {k: v for k, v in case.items() if k != "requests"},
                    "requests": case["requests"], "replies": replies})
    path = pathlib.Path(__file__).with_suffix(".json")
    lines = ",\n".join(json.dumps(case) for case in out)
    path.write_text('{"cases": [\n' + lines + "\n]}\n")


if __name__ == "__main__":
    main()
