#pragma once

#include <span>
#include <string>

#include "analysis/histogram.h"
#include "analysis/processing_pass.h"
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"

namespace presentation {

// The chart feed of a processing pass: sets the left-axis limits around the centre value of the
// view (CentreInterval in ticks when `interval_view`, CentreFrequency in Hz otherwise; `scale` an
// absolute half-range, or percent of the centre when `percent_units`), then refills series 0
// (channel 1), 1 (centre line) and 2 (channel 2 or the smoothed trace, gaps where an interval is
// 0 or below) with one point per interval, each channel 1 point carrying its hidden frequency
// label. Throws common::Error "Axis Maximum Value must be >= Minimum" when the centre is so far
// below 0 that the maximum falls under 0; the series then keep their points. Window thread only.
void FeedPulseChart(PulseChart& chart, const analysis::ChartInput& input, bool interval_view,
                    bool percent_units, int scale);

// Redraws the histogram: count axis from 0 to `axis_maximum`, bars sized automatically at 95 % of
// their slot, bar k with the value counts[k] and the text labels[k], marks hidden. `counts` and
// `labels` normally have the same length (200 for the pass); a bar without a label gets an empty
// one. Throws common::Error "Axis Maximum Value must be >= Minimum" when `axis_maximum` is below 0,
// after the old bars are gone. Window thread only.
void DrawHistogram(HistogramChart& chart, std::span<const int> counts,
                   std::span<const std::string> labels, double axis_maximum);

// The same for the bars that the pass computed over a band of plus and minus `band_percent` of
// the average interval, with the axis titles that say so.
void DrawHistogram(HistogramChart& chart, const analysis::HistogramBars& bars, int band_percent);

}  // namespace presentation
