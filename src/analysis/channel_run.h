#pragma once

#include <cstdint>
#include <vector>

#include "analysis/pulse_security.h"

// The two lines' pairing and security over a whole AutoSample run, block by block: what a
// receiver watching both lines would have counted since the run began. A plain record; the
// window and k390tool add each block's report as it comes. One thread at a time.
namespace analysis {

// Errors the run lists one by one; the counts go on beyond them.
inline constexpr int64_t kMostListedRunErrors = 100;

// One error of the run: its block (from 1) and the error as its block reported it.
struct RunChannelError {
  int64_t block = 0;
  ChannelErrorEntry entry;

  bool operator==(const RunChannelError&) const = default;
};

struct ChannelRunTotals {
  // Summed over every block; blocks that did not pair add only to `blocks`.
  SecurityCounts counts;
  int64_t blocks_not_paired = 0;  // too few pulses, or rates that keep no whole ratio
  int64_t blocks_with_errors = 0;
  // The least and the greatest of the paired blocks' mean phases, degrees in (-180, 180];
  // NaN before a block paired.
  double phase_mean_min_deg = kNoFigure;
  double phase_mean_max_deg = kNoFigure;
  std::vector<RunChannelError> errors;  // the first kMostListedRunErrors, in order

  void Add(const ChannelsReport& block);
};

}  // namespace analysis
