#include "analysis/histogram.h"

#include <algorithm>

#include "common/text_forms.h"
#include "common/ticks.h"

namespace analysis {

HistogramBars ComputeHistogram(const acquisition::PulseData& data, int64_t scale, int64_t samples) {
  HistogramBars bars;
  bars.axis_maximum = samples + 1;

  const double average = data.Ch1Average;
  const double fraction = static_cast<double>(scale) / 100;
  const double lo = average - average * fraction;
  const double hi = average * fraction + average;
  const double span = hi - lo;
  const double w = span / kHistogramBars;

  if (span > 0) {
    const int64_t n = std::min<int64_t>(data.Ch1Count, acquisition::kMaxIntervals + 1);
    for (int64_t i = 1; i < n; ++i) {
      const double position =
          (data.Ch1Intervals[static_cast<size_t>(i)] - lo) / span * kHistogramBars;
      // Far outside the band the position need not fit an integer; it is not counted anyway.
      if (!(position > -1 && position < kHistogramBars)) continue;
      const int64_t k = common::RoundHalfEven(position);
      if (k >= 0 && k < kHistogramBars) ++bars.counts[static_cast<size_t>(k)];
    }
  }

  // A wide band in tick units reaches intervals of 0 or below, which have no frequency.
  for (int k = 0; k < kHistogramBars; ++k) {
    const double interval = lo + k * w;
    bars.labels[static_cast<size_t>(k)] =
        common::FixedText(interval > 0 ? common::kTicksPerSecond / interval : 0, 1);
  }
  return bars;
}

}  // namespace analysis
