#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "analysis/pulse_pattern.h"
#include "analysis/train_view.h"

// Virtual proving: what a small-volume prover reading this pulse train by double chronometry
// would report, run after run, for a given flight time. Pure functions; any thread.
//
// The rules. Pass j's first detector switch is at s1 = t0 + j (T + P), t0 the first pulse's
// stamp plus half the mean period, its second at s2 = s1 + T (T the flight time, P the pause);
// the switches know nothing of the pulses. Double chronometry: Nm whole pulses from the first
// pulse after s1 to the first pulse after s2, Tp the time between those two pulses (both exact
// integers, ticks), Td = T, and the pass's interpolated pulses Ni = Nm Td / Tp. A run averages
// the Ni of M consecutive passes; provings are the runs taken N at a time, in order, without
// overlap, and runs after the last whole proving are dropped. A pass holds a gap when a pulse is
// missing between the last pulse at or before s1 and its stop pulse, or an extra pulse lies in
// that span; a proving with such a pass is counted apart and left out of every other figure.
namespace analysis {

// The half-range factor d2(n): the expected range of n independent standard normal values,
// 2 * integral over x >= 0 of 1 - Phi(x)^n - Phi(-x)^n (double exponential quadrature). n >= 2.
double ExpectedRangeOfNormals(int n);

// The range of n runs that holds the uncertainty of the average meter factor within +/-0.027 %:
// w(n) = 0.027 % sqrt(n) d2(n) / t(0.975, n - 1), Student's quantile. In %; n >= 2.
double RepeatabilityLimitFormulaPct(int runs);

// The value of the table published in the measurement standards (n = 3 to 6, 10, 15, 20), which
// operators know and which rounds the formula; none for other n.
std::optional<double> PublishedRepeatabilityLimitPct(int runs);

// The published value where there is one, the formula elsewhere. In %; n >= 2.
double RepeatabilityLimitPct(int runs);

struct ProvingOptions {
  int runs = 5;                     // N runs per proving, at least 2
  int passes = 1;                   // M passes averaged into a run, at least 1
  double pause_s = 0;               // P between passes, seconds, at least 0
  std::optional<double> limit_pct;  // the operator's limit; else RepeatabilityLimitPct(runs)
};

inline constexpr double kNoFigure = std::numeric_limits<double>::quiet_NaN();

// The figures of one flight time. Those marked NaN stay NaN when no proving is counted.
struct ProvingFigures {
  double flight_s = 0;
  int64_t provings = 0;                  // counted: none of their passes holds a gap
  int64_t provings_with_gaps = 0;        // left out of every other figure
  double mean_pulses = kNoFigure;        // mean Ni over the runs of the counted provings
  double sd_pct = kNoFigure;             // their sample standard deviation (n - 1) over the mean, %
  double repeat_median_pct = kNoFigure;  // (max - min) / min of each proving's runs, %: median
  double repeat_p95_pct = kNoFigure;     // and nearest-rank 95th percentile
  double pass_share = kNoFigure;         // share of provings at or below the limit, 0 .. 1
  double limit_pct = 0;
  // The edge displacement over the flight time: for each pass of the counted provings, the
  // peak-to-peak deviation of the pulse edges in (s1, s2] from their least-squares line on the
  // grid index, over T, in %. Its largest value and nearest-rank 95th percentile. A slow or
  // periodic pattern moves the edges much further than the interval peak-to-peak suggests.
  double edge_pp_max_pct = kNoFigure;
  double edge_pp_p95_pct = kNoFigure;
};

// One flight time (seconds). Throws common::Error on options outside their ranges or a flight
// time that is not above 0. A pass that counts no pulse (a flight shorter than the interval it
// falls in) gives Ni = 0 and its proving an unbounded repeatability. O(N + extra pulses) per
// flight time: every edge of every pass is visited twice.
ProvingFigures Prove(const TrainView& train, double flight_s, const ProvingOptions& options);

// The default scan: 30 flight times, log spaced from 10 ms to the longest that leaves 20
// provings in the record (seconds); none when even 10 ms leaves fewer.
std::vector<double> DefaultFlightTimes(const TrainView& train, const ProvingOptions& options);

struct ProvingScan {
  std::vector<ProvingFigures> rows;  // by rising flight time
  // The shortest scanned flight time at which at least 95 % of the counted provings pass.
  // Nothing is interpolated between scan points: the answer is a scanned value.
  std::optional<double> shortest_flight_s;
  // A longer scanned flight time fails again (a pattern that whole rotations cancel)...
  bool non_monotonic = false;
  // ... and then the shortest scanned flight time from which every longer one passes.
  std::optional<double> passing_from_s;
};

ProvingScan ScanProving(const TrainView& train, std::span<const double> flight_s,
                        const ProvingOptions& options);

// The scan at the default flight times (DefaultFlightTimes): the one a train is reported with
// when nobody chose the flight times. Empty rows for a record too short for it.
ProvingScan ScanProving(const TrainView& train, const ProvingOptions& options);

// The same scan of the train with `pattern` taken out of its edges (RemovePattern): what the
// pattern costs the provings.
ProvingScan ScanProvingWithoutPattern(const TrainView& train, const PulsePattern& pattern,
                                      std::span<const double> flight_s,
                                      const ProvingOptions& options);

}  // namespace analysis
