#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/train_view.h"

// The repeating pattern of a pulse train's intervals: a turbine rotor of B blades repeats its
// blade-to-blade differences every B pulses. Positions count pulses on the grid from the first
// pulse, missing ones included: position p holds the intervals from pulse k to pulse k + 1 with
// k mod B = p. Only ordinary intervals (both pulses present) are used. Pure functions; any thread.
namespace analysis {

struct PulsePattern {
  int64_t positions = 0;              // B
  int64_t intervals = 0;              // ordinary intervals used
  double mean_interval_ticks = 0;     // the mean of the B position means: one rotation over B
  std::vector<double> deviation_pct;  // each position's mean less that, in % of it
  double pattern_pp_pct = 0;          // max - min of deviation_pct
  // The intervals less their position's mean: rms with n - B degrees of freedom, and max - min.
  double residual_rms_ticks = 0;
  double residual_pp_ticks = 0;
  double residual_rms_pct = 0;  // of mean_interval_ticks
  double residual_pp_pct = 0;
};

// The number of positions B (2 .. most_positions) whose pattern best explains the intervals,
// or none when no B explains them better than a constant. The ordinary intervals of the first
// 2^20 grid positions are folded at every candidate B; the choice minimises the Bayesian
// information criterion n ln(1 - F) + (B - 1) ln n, F the share of the interval variance that
// the B position means explain. The penalty keeps multiples of the true B (which explain
// slightly more by chance) and noise out; a pattern held exactly to the tick gives the smallest
// B that explains it. O(min(N, 2^20) x most_positions).
std::optional<int64_t> FindPatternPositions(const TrainView& train, int64_t most_positions = 128);

// The pattern of `positions` B >= 1. Throws common::Error when a position holds no ordinary
// interval (a record shorter than B + 1 pulses, or gaps that always fall on it). O(N).
PulsePattern ComputePulsePattern(const TrainView& train, int64_t positions);

// The stamps of a train with its pattern taken out of its edges: each stamp less the running
// sum of the position deviations (ticks) up to its index, rounded to the tick; an extra pulse
// moves with the pulse before it. The grid indices stay the train's. Provings of it show what
// the train would do without the pattern.
struct PatternFreeStamps {
  std::vector<int64_t> stamp;
  std::vector<int64_t> extra_stamps;
  // These stamps on `train`'s indices; `train`'s spans must outlive the view.
  TrainView View(const TrainView& train) const { return {train.index, stamp, extra_stamps}; }
};

// 8 bytes per pulse. `pattern` must be one of `train`.
PatternFreeStamps RemovePattern(const TrainView& train, const PulsePattern& pattern);

}  // namespace analysis
