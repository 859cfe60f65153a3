#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "acquisition/pulse_data.h"

namespace analysis {

inline constexpr int kHistogramBars = 200;
inline constexpr int kHistogramBarWidthPercent = 95;

// What the histogram view shows for one pass: a count and a frequency label (Hz, 1 decimal)
// per bar, and the top of the count axis.
struct HistogramBars {
  std::array<int32_t, kHistogramBars> counts{};
  std::array<std::string, kHistogramBars> labels;
  int64_t axis_maximum = 0;
};

// Spreads Ch1Intervals[1 .. Ch1Count-1] (ticks) over 200 bars across the band Ch1Average
// +/- scale percent; bar k counts the intervals nearest lo + k * w (w = band / 200) and is
// labelled with that interval's frequency, so counts and labels agree. A band of no width
// (scale 0 or less) counts nothing. `samples` is the SEsamples value: the count axis runs to
// samples + 1. Pure; any thread.
HistogramBars ComputeHistogram(const acquisition::PulseData& data, int64_t scale, int64_t samples);

}  // namespace analysis
