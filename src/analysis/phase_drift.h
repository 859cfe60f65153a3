#pragma once

#include <cstdint>
#include <vector>

#include "analysis/train_view.h"

// The phase of a pulse train with a slow trend taken out: a steady offset of the pulse rate
// (a line in the phase) or a rate that changes steadily, as a flow rate that ramps does (a
// parabola). The phase then feeds the stability table, the time interval error and the jitter
// spectrum, so that a changing flow rate does not drown the jitter. Pure functions; any thread.
namespace analysis {

enum class DriftRemoval {
  kNone,       // the phase against the line through the first and last pulse
  kLinear,     // less its least-squares line: the time interval error
  kQuadratic,  // less its least-squares parabola: a rate that ramps is taken out too
};

// The trend that was fitted, read at the middle of the record. All 0 for kNone.
struct DriftFit {
  double frequency_hz = 0;      // pulse rate of the fitted trend, Hz
  double frequency_offset = 0;  // that rate over the record's mean rate K / t_last, less 1
  double drift_hz_per_s = 0;    // rate of change of the pulse rate, Hz/s (kQuadratic only)
  double drift_per_s = 0;       // the same over frequency_hz, 1/s (kQuadratic only)
};

struct PhaseRecord {
  // The residual phase x(k) in seconds at each grid index 0 .. K; NaN where the pulse is missing.
  std::vector<double> phase_s;
  double tau0_s = 0;  // t_last / K, seconds
  int64_t missing = 0;
  DriftFit fit;
};

// x(k) = t(k) - k t_last / K, formed exactly from the stamps, less the fitted trend. The fit runs
// in a centred, scaled index with Legendre polynomials, so a record of 10^8 pulses keeps its
// sub-tick residuals. An Empty() view gives an empty record. O(N) time, 8 bytes per grid index.
PhaseRecord DetrendedPhase(const TrainView& train, DriftRemoval removal);

}  // namespace analysis
