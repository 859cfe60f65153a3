#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "acquisition/pulse_data.h"
#include "analysis/processing_pass.h"
#include "presentation/chart_maths.h"

namespace presentation {

// The series of the pulse chart, by index.
inline constexpr int kSeriesCh1 = 0;
inline constexpr int kSeriesAverage = 1;
inline constexpr int kSeriesCh2 = 2;

// The chart feed over any chart that offers the pulse chart's operations with std::string label
// texts. The order of the axis steps matters: the minimum goes to 0 first so that a new maximum
// cannot fall below the old minimum; a refusal (a negative centre) throws before any series is
// touched, so the chart keeps the points of the previous feed. Window thread only.
template <class Chart>
void FeedPulseSteps(Chart& chart, const analysis::ChartInput& input, bool interval_view,
                    bool percent_units, int scale) {
  const acquisition::PulseData& data = *input.data;
  const double centre = interval_view ? input.CentreInterval : input.CentreFrequency;
  const AxisRange limits = PulseAxisLimits(centre, percent_units, scale);

  chart.SetLeftAxisMinimum(0);
  chart.SetLeftAxisMaximum(limits.maximum);
  chart.SetLeftAxisMinimum(limits.minimum);

  chart.SetLineWidth(kSeriesCh1, 2);
  chart.SetLineWidth(kSeriesCh2, 2);

  chart.ClearSeries(kSeriesCh1);
  chart.ClearSeries(kSeriesAverage);
  chart.ClearSeries(kSeriesCh2);

  // The arrays end at index kMaxIntervals whatever the count claims.
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  const bool with_ch2 = data.Ch2Count > 0;
  for (int64_t i = 1; i <= last; ++i) {
    const double x1 = data.Ch1Intervals[i];
    const double f1 = PulseFrequency(x1);
    chart.AddPoint(kSeriesCh1, interval_view ? x1 : f1);
    const int k = static_cast<int>(i - 1);
    chart.AppendPointLabel(kSeriesCh1, k, PointLabelText(f1));
    chart.SetPointLabelVisible(kSeriesCh1, k, false);
    if (with_ch2) {
      const double x2 = data.Ch2Intervals[i];
      if (x2 > 0) {
        chart.AddPoint(kSeriesCh2, interval_view ? x2 : PulseFrequency(x2));
      } else {
        chart.AddNullPoint(kSeriesCh2);
      }
    }
    chart.AddPoint(kSeriesAverage, interval_view ? input.CentreInterval : input.CentreFrequency);
  }
}

}  // namespace presentation
