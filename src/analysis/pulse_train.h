#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The rules that turn a run of pulse-to-pulse intervals (ticks of 25 ns) into a train of
// indexed pulses: the nominal interval, extra pulses merged away, missing pulses counted, and
// the exact stamps and phase of every pulse present. Plain functions of their inputs; any thread.
namespace analysis {

// The nominal interval in ticks, held as twice its value so that the mean of the two middle
// intervals of an even count stays an exact integer.
struct Nominal {
  int64_t twice = 0;
  double Ticks() const { return static_cast<double>(twice) / 2.0; }
};

// The median of the intervals (the mean of the two middle values for an even count).
// The span must not be empty. O(N) time, one copy of the intervals.
Nominal NominalInterval(std::span<const int64_t> intervals);

// True when an interval is shorter than half the nominal interval: the pulse that ends it is
// an extra one.
bool IsShort(int64_t interval, Nominal nominal);

// Merges extra pulses in place, left to right: a short interval is added to the one after it,
// again while the sum is still short; each merge removes one extra pulse. A short last interval
// is dropped and counted too. Returns the number of extra pulses.
int64_t MergeExtraPulses(std::vector<int64_t>& intervals, Nominal nominal);

// How many nominal periods an interval spans: r = round(d / nominal) when r >= 2 and
// |d - r * nominal| <= nominal / 4 (r - 1 pulses are missing inside it), otherwise 1.
// Exact integer arithmetic; nominal must be above 0.
int64_t SpannedPeriods(int64_t interval, Nominal nominal);

// The stamp of an index that has no pulse.
inline constexpr int64_t kNoPulse = INT64_MIN;

// A train of pulses on a grid of indices 0 .. K. Index k advances by the spanned periods of
// each interval; the stamps are the running sums of the intervals from 0 (exact integers, in
// ticks) and kNoPulse at a missing index.
struct PulseTrain {
  std::vector<int64_t> stamps;
  Nominal nominal;
  int64_t intervals = 0;  // after the extra pulses are merged
  int64_t extra_pulses = 0;
  int64_t missing_pulses = 0;

  int64_t LastIndex() const { return static_cast<int64_t>(stamps.size()) - 1; }
  int64_t LastStamp() const { return stamps.back(); }
  bool Present(int64_t k) const { return stamps[static_cast<size_t>(k)] != kNoPulse; }
  // The mean period in ticks, t_last / K.
  double Tau0Ticks() const;
  // K * x(k) in ticks: K * t(k) - k * t_last, exact. Only at an index with a pulse.
  __int128 ScaledPhase(int64_t k) const;
  // x(k) = (t(k) - k * tau0) in seconds; NaN at a missing index.
  double PhaseSeconds(int64_t k) const;
};

// The most missing pulses a train indexes: 4 per interval, and never fewer than 2^20. A single
// wrapped or corrupt delta over a tiny nominal would otherwise ask for billions of grid slots.
int64_t MostMissingPulses(int64_t intervals);

// Builds the train from raw intervals in ticks (taken by value: merged in place). Needs a
// nominal interval above 0 and at least one interval left after the merge; returns an empty
// train (no stamps) otherwise. A run with more missing pulses than MostMissingPulses allows
// also gives no stamps, with `intervals` and `missing_pulses` set so the caller can say why.
PulseTrain BuildPulseTrain(std::vector<int64_t> intervals);

}  // namespace analysis
