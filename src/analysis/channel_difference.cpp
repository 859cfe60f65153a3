#include "analysis/channel_difference.h"

#include <cmath>

#include "common/ticks.h"

namespace analysis {
namespace {

int64_t SlowStamp(const ChannelPairing& p, const PulsePair& pair) {
  return p.ch2_faster ? p.ch1.stamps[static_cast<size_t>(pair.ch1_index)]
                      : p.ch2.stamps[static_cast<size_t>(pair.ch2_index)];
}

}  // namespace

DifferenceRecord DifferencePhase(const ChannelPairing& pairing) {
  DifferenceRecord record;
  const PulsePair* first = nullptr;
  const PulsePair* last = nullptr;
  double sum = 0;
  int64_t n = 0;
  for (const PulsePair& pair : pairing.pairs) {
    if (!pair.judged) continue;
    if (first == nullptr) first = &pair;
    last = &pair;
    sum += static_cast<double>(pair.difference_ticks);
    ++n;
  }
  if (n < 2 || last->slow_grid == first->slow_grid) return record;
  const int64_t points = last->slow_grid - first->slow_grid;
  record.tau0_s = static_cast<double>(SlowStamp(pairing, *last) - SlowStamp(pairing, *first)) /
                  static_cast<double>(points) * common::kTickSeconds;
  record.phase_s.assign(static_cast<size_t>(points + 1), std::nan(""));
  const double mean = sum / static_cast<double>(n);
  for (const PulsePair& pair : pairing.pairs) {
    if (!pair.judged) continue;
    record.phase_s[static_cast<size_t>(pair.slow_grid - first->slow_grid)] =
        (static_cast<double>(pair.difference_ticks) - mean) * common::kTickSeconds;
  }
  return record;
}

}  // namespace analysis
