#pragma once

#include <cstdint>
#include <vector>

#include "analysis/pulse_train.h"

// The jitter figures of a pulse train: period jitter of the ordinary intervals, cycle-to-cycle
// jitter of adjacent ordinary intervals, and the time interval error against the least-squares
// line through every pulse present. Pure functions; any thread.
namespace analysis {

struct TimingJitter {
  int64_t intervals = 0;  // after extra pulses are merged
  int64_t missing_pulses = 0;
  int64_t extra_pulses = 0;
  double nominal_ticks = 0;
  double tau0_s = 0;              // t_last / K
  double period_jitter_rms = 0;   // standard deviation (n - 1) of the ordinary intervals, s
  double period_jitter_pp = 0;    // their max - min, s
  double cycle_to_cycle_max = 0;  // largest |d(k) - d(k-1)|, s
  double cycle_to_cycle_rms = 0;  // rms of d(k) - d(k-1), s
  double tie_pp = 0;              // s
  double tie_rms = 0;             // s
};

// The figures of a train with at least one interval; a figure without the intervals or pairs
// it needs stays 0.
TimingJitter ComputeTimingJitter(const PulseTrain& train);

// The time interval error of each index in seconds against the least-squares line
// t = a + b k over the pulses present; NaN at a missing index.
std::vector<double> TiePerPulse(const PulseTrain& train);

}  // namespace analysis
