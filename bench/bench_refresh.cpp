// The chart refresh of one pass: the chart feed of full interval arrays (5000 points on each of
// the three series, with the point labels) and one synchronous redraw at the window's initial
// chart size; and the histogram redraw of 200 labelled bars. While streaming this can run on
// every 50 ms tick.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>
#include <cmath>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/text_forms.h"
#include "presentation/chart_feed.h"
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/timing_charts.h"
#include "presentation/timing_view.h"

namespace {

constexpr int kChartWidth = 1045;
constexpr int kChartHeight = 626;

QWidget* window = nullptr;

// Full arrays: a 1 kHz pulse train with a slow wander and a little noise on both channels, and
// a few missing channel 2 intervals so the gaps are drawn too.
std::unique_ptr<acquisition::PulseData> FullArrays() {
  auto data = std::make_unique<acquisition::PulseData>();
  uint32_t seed = 12345;
  for (int i = 1; i <= acquisition::kMaxIntervals; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const double noise = static_cast<double>(seed >> 24) - 128;
    data->Ch1Intervals[i] = 40000 + 60 * std::sin(i / 300.0) + noise / 4;
    data->Ch2Intervals[i] = i % 997 == 0 ? 0 : 40000 + 40 * std::cos(i / 200.0) + noise / 8;
  }
  data->Ch1Count = acquisition::kMaxIntervals + 1;
  data->Ch2Count = acquisition::kMaxIntervals + 1;
  return data;
}

void BM_PulseFeedAndReplot(benchmark::State& state) {
  presentation::PulseChart chart(window);
  chart.Widget()->setGeometry(0, 0, kChartWidth, kChartHeight);
  chart.Widget()->show();
  auto data = FullArrays();
  const analysis::ChartInput input{data.get(), 40000, 1000};
  const bool interval_view = state.range(0) == 0;
  for (auto _ : state) {
    presentation::FeedPulseChart(chart, input, interval_view, false, 100);
    chart.Replot();
  }
  state.counters["points"] = chart.PointCount(0) + chart.PointCount(1) + chart.PointCount(2);
}
BENCHMARK(BM_PulseFeedAndReplot)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("frequency_view")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

// The pass with the timing readout in the interval view: the same feed and redraw plus the
// pulse train and jitter figures of channel 1 and the readout texts.
void BM_PulseFeedReadoutAndReplot(benchmark::State& state) {
  presentation::PulseChart chart(window);
  chart.Widget()->setGeometry(0, 0, kChartWidth, kChartHeight);
  chart.Widget()->show();
  auto data = FullArrays();
  const analysis::ChartInput input{data.get(), 40000, 1000};
  const std::span<const double> intervals(data->Ch1Intervals.data() + 1, acquisition::kMaxIntervals);
  size_t text = 0;
  for (auto _ : state) {
    presentation::FeedPulseChart(chart, input, true, false, 100);
    const presentation::TimingView view =
        presentation::ComputeTimingView(intervals, {.tie = false, .stability = false});
    text += presentation::ReadoutText(view.jitter).size() +
            presentation::PulseCountText(view.jitter).size();
    chart.Replot();
  }
  benchmark::DoNotOptimize(text);
}
BENCHMARK(BM_PulseFeedReadoutAndReplot)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

// The TIE view (Arg 0: per-pulse TIE) or the Stability view (Arg 1: octave table) of 5000
// intervals: readout figures, the view's part, its chart and one redraw.
void BM_TimingViewAndReplot(benchmark::State& state) {
  presentation::TieChart tie(window);
  presentation::StabilityChart stability(window);
  for (QWidget* widget : {tie.Widget(), stability.Widget()}) {
    widget->setGeometry(0, 0, kChartWidth, kChartHeight);
    widget->show();
  }
  auto data = FullArrays();
  const std::span<const double> intervals(data->Ch1Intervals.data() + 1, acquisition::kMaxIntervals);
  for (auto _ : state) {
    const bool stability_view = state.range(0) == 1;
    const presentation::TimingView view = presentation::ComputeTimingView(
        intervals, {.tie = !stability_view, .stability = stability_view});
    if (!stability_view) {
      tie.Show(view);
      tie.Replot();
    } else {
      stability.Show(view.stability);
      stability.Replot();
    }
  }
}
BENCHMARK(BM_TimingViewAndReplot)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("stability_view")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

// The feed alone, to tell the data side from the drawing side.
void BM_PulseFeedOnly(benchmark::State& state) {
  presentation::PulseChart chart(window);
  auto data = FullArrays();
  const analysis::ChartInput input{data.get(), 40000, 1000};
  for (auto _ : state) presentation::FeedPulseChart(chart, input, true, false, 100);
}
BENCHMARK(BM_PulseFeedOnly)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

void BM_HistogramDrawAndReplot(benchmark::State& state) {
  presentation::HistogramChart chart(window);
  chart.Widget()->setGeometry(0, 0, kChartWidth, kChartHeight);
  chart.Widget()->show();
  std::vector<int> counts;
  std::vector<std::string> labels;
  for (int k = 0; k < 200; ++k) {
    counts.push_back(100 - std::abs(100 - k));
    labels.push_back(common::FixedText(4e7 / (36000 + k * 40), 1));
  }
  for (auto _ : state) {
    presentation::DrawHistogram(chart, counts, labels, 3001);
    chart.Replot();
  }
}
BENCHMARK(BM_HistogramDrawAndReplot)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  // The charts need a window system; offscreen keeps the figures free of any display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QWidget top;
  top.resize(kChartWidth, kChartHeight);
  top.show();
  window = &top;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
