#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/pulse_train.h"

// The jitter figures of a pulse train: period jitter of the ordinary intervals, cycle-to-cycle
// jitter of adjacent ordinary intervals, and the time interval error against the least-squares
// line through every pulse present. An ordinary interval spans one period between neighbouring
// pulses present, and no extra pulse was merged into it or into the interval on either side
// (the pulse kept beside an extra one may be the extra one itself). Pure functions; any thread.
namespace analysis {

struct TimingJitter {
  int64_t intervals = 0;  // between neighbouring pulses present, after extra pulses are merged
  int64_t missing_pulses = 0;
  int64_t extra_pulses = 0;
  double nominal_ticks = 0;      // the period the pulses were indexed with, ticks
  double tau0_s = 0;             // t_last / K
  int64_t ordinary = 0;          // ordinary intervals
  double period_mean_ticks = 0;  // their mean
  double period_rms_ticks = 0;   // their standard deviation (n - 1)
  int64_t period_pp_ticks = 0;   // their max - min
  double period_jitter_rms = 0;  // the same two in seconds
  double period_jitter_pp = 0;
  double cycle_to_cycle_max = 0;  // largest |d(k) - d(k-1)|, s
  double cycle_to_cycle_rms = 0;  // rms of d(k) - d(k-1), s
  double tie_pp = 0;              // s
  double tie_rms = 0;             // s
  std::string ambiguous;          // as the train says it
};

// The figures of a train with at least one interval; a figure without the intervals or pairs
// it needs stays 0.
TimingJitter ComputeTimingJitter(const PulseTrain& train);

// The time interval error of each pulse present in seconds against the least-squares line
// t = a + b k over them.
std::vector<double> TiePerPulse(const PulseTrain& train);

}  // namespace analysis
