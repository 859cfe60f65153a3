#include "analysis/channel_run.h"

#include <algorithm>
#include <cmath>

namespace analysis {

void ChannelRunTotals::Add(const ChannelsReport& block) {
  counts.Add(block.security.counts);
  if (block.pairing.status != PairingStatus::kPaired) {
    ++blocks_not_paired;
    return;
  }
  if (!block.security.errors.empty()) ++blocks_with_errors;
  const double mean = block.pairing.phase.mean_deg;
  if (!std::isnan(mean)) {
    phase_mean_min_deg = std::isnan(phase_mean_min_deg) ? mean : std::min(phase_mean_min_deg, mean);
    phase_mean_max_deg = std::isnan(phase_mean_max_deg) ? mean : std::max(phase_mean_max_deg, mean);
  }
  for (const ChannelErrorEntry& entry : block.security.errors) {
    if (static_cast<int64_t>(errors.size()) >= kMostListedRunErrors) break;
    errors.push_back({counts.blocks, entry});
  }
}

}  // namespace analysis
