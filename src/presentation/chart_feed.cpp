#include "presentation/chart_feed.h"

#include <QString>
#include <algorithm>

#include "presentation/feed_steps.h"

namespace presentation {
namespace {

// The pulse chart as the feed steps see it: label texts arrive as plain ASCII strings.
class FeedTarget {
 public:
  explicit FeedTarget(PulseChart& chart) : chart_(chart) {}

  void SetLeftAxisMinimum(double value) { chart_.SetLeftAxisMinimum(value); }
  void SetLeftAxisMaximum(double value) { chart_.SetLeftAxisMaximum(value); }
  void SetLineWidth(int series, int width) { chart_.SetLineWidth(series, width); }
  void ClearSeries(int series) { chart_.ClearSeries(series); }
  void AddPoint(int series, double value) { chart_.AddPoint(series, value); }
  void AddNullPoint(int series) { chart_.AddNullPoint(series); }
  void AppendPointLabel(int series, int k, const std::string& line) {
    chart_.AppendPointLabel(series, k, QString::fromLatin1(line.data(), line.size()));
  }
  void SetPointLabelVisible(int series, int k, bool visible) {
    chart_.SetPointLabelVisible(series, k, visible);
  }

 private:
  PulseChart& chart_;
};

}  // namespace

void FeedPulseChart(PulseChart& chart, const analysis::ChartInput& input, bool interval_view,
                    bool percent_units, int scale) {
  FeedTarget target(chart);
  FeedPulseSteps(target, input, interval_view, percent_units, scale);
}

void DrawHistogram(HistogramChart& chart, std::span<const int> counts,
                   std::span<const std::string> labels, double axis_maximum) {
  chart.ClearBars();
  chart.SetLeftAxisMinimum(0);
  chart.SetLeftAxisMaximum(axis_maximum);
  chart.SetAutoBarSize(true);
  chart.SetBarWidthPercent(95);
  for (size_t k = 0; k < counts.size(); ++k) {
    const std::string& label = k < labels.size() ? labels[k] : std::string();
    chart.AddBar(counts[k], QString::fromLatin1(label.data(), label.size()));
  }
  chart.SetMarksVisible(false);
}

void DrawHistogram(HistogramChart& chart, const analysis::HistogramBars& bars, int band_percent) {
  const HistogramTitles titles = HistogramAxisTitles(band_percent);
  chart.SetAxisTitles(QString::fromStdString(titles.count), QString::fromStdString(titles.bars));
  DrawHistogram(chart, bars.counts, bars.labels, static_cast<double>(bars.axis_maximum));
}

}  // namespace presentation
