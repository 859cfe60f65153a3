// Feeds arbitrary bytes as pulse intervals (each two bytes a signed interval in ticks, added to
// the first as a base period, so that short, long, zero and negative intervals all come up) to
// the pulse indexing of the batch tools and of a stream's run statistics. Every raw pulse must
// end up either present on the grid or extra, the grid indices and stamps must rise, and the
// stream must count no more than there are; anything else, or a sanitizer report, aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "analysis/pulse_train.h"
#include "analysis/run_statistics.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<int64_t> intervals;
  int64_t base = 0;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const int64_t value = static_cast<int16_t>(static_cast<uint16_t>(data[i] | data[i + 1] << 8));
    if (i == 0) {
      base = value < 0 ? -value : value;
      continue;
    }
    intervals.push_back(base + value);
  }
  const analysis::PulseTrain train = analysis::BuildPulseTrain(intervals);
  Check(train.index.size() == train.stamp.size());
  if (!train.stamp.empty()) {
    Check(train.index[0] == 0 && train.stamp[0] == 0);
    for (size_t i = 1; i < train.Pulses(); ++i) {
      Check(train.index[i] > train.index[i - 1] && train.stamp[i] > train.stamp[i - 1]);
    }
    Check(train.missing_pulses == train.index.back() + 1 - static_cast<int64_t>(train.Pulses()));
    Check(train.intervals + 1 == static_cast<int64_t>(train.Pulses()));
    // Each raw pulse, the first included, is present or extra.
    Check(static_cast<int64_t>(train.Pulses()) + train.extra_pulses ==
          static_cast<int64_t>(intervals.size()) + 1);
    Check(train.extra_pulses == static_cast<int64_t>(train.extra_stamps.size()));
    for (size_t i = 1; i < train.extra_stamps.size(); ++i) {
      Check(train.extra_stamps[i] >= train.extra_stamps[i - 1]);
    }
  }
  analysis::RunStatistics stats(2);
  stats.AddWord(0);
  for (int64_t d : intervals) stats.AddWord(d < 0 ? 0 : d);
  const analysis::RunSummary summary = stats.Summary();
  Check(summary.extra_pulses >= 0 &&
        summary.extra_pulses <= static_cast<int64_t>(intervals.size()));
  Check(summary.missing_pulses >= 0);
  return 0;
}
