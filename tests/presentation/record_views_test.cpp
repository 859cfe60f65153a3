#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/pulse_train.h"
#include "presentation/proving_view.h"
#include "presentation/spectrum_view.h"

namespace presentation {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Intervals of `count` pulses at `period` ticks, edge k moved by `edge(k)` ticks (rounded).
template <class Edge>
std::vector<int64_t> Intervals(int64_t count, int64_t period, Edge edge) {
  std::vector<int64_t> d;
  int64_t last = 0;
  for (int64_t k = 1; k <= count; ++k) {
    const int64_t t = k * period + std::llround(edge(k));
    d.push_back(t - last);
    last = t;
  }
  return d;
}

// A rotor of 7 blades whose edges lead or lag by `lead[k mod 7]` ticks.
std::vector<int64_t> SevenBlades(int64_t count) {
  static constexpr double kLead[7] = {0, 12, 30, 18, -6, -20, -10};
  return Intervals(count, 40000, [](int64_t k) { return kLead[k % 7]; });
}

analysis::ProvingFigures Row(double flight_s, int64_t provings, double median, double p95) {
  analysis::ProvingFigures row;
  row.flight_s = flight_s;
  row.provings = provings;
  row.repeat_median_pct = median;
  row.repeat_p95_pct = p95;
  row.limit_pct = 0.05;
  return row;
}

// Only what a logarithmic axis can draw is plotted: a flight time without provings, a
// repeatability of 0 (every run alike) or an unbounded one (a pass without a pulse) is not.
TEST(ProvingView, CurvesKeepTheDrawableRowsInMilliseconds) {
  analysis::ProvingScan scan;
  scan.rows = {Row(0.010, 20, 0.5, 0.9), Row(0.020, 0, kNaN, kNaN), Row(0.040, 20, 0, 0.2),
               Row(0.080, 20, std::numeric_limits<double>::infinity(), 0.1)};
  struct Case {
    ProvingStatistic statistic;
    std::vector<double> ms, pct;
  };
  const Case cases[] = {{ProvingStatistic::kMedian, {10}, {0.5}},
                        {ProvingStatistic::kP95, {10, 40, 80}, {0.9, 0.2, 0.1}}};
  for (const Case& c : cases) {
    const ProvingCurve curve = RepeatabilityCurve(scan, c.statistic);
    EXPECT_EQ(curve.flight_ms, c.ms);
    EXPECT_EQ(curve.repeat_pct, c.pct);
  }
}

TEST(ProvingView, TitleSaysWhereNinetyFivePercentPass) {
  ProvingView view;
  view.valid = true;
  view.runs = 5;
  view.limit_pct = 0.05;
  view.scan.rows = {Row(0.010, 20, 0.5, 0.9), Row(0.12, 0, kNaN, kNaN)};
  EXPECT_EQ(ProvingTitle(view),
            "K390 Virtual Proving  (5 runs, limit 0.05 %, 95 % pass at no flight time scanned)");
  view.scan.shortest_flight_s = 0.12;
  EXPECT_EQ(ProvingTitle(view),
            "K390 Virtual Proving  (5 runs, limit 0.05 %, 95 % pass from 120 ms)");
  view.scan.non_monotonic = true;
  view.scan.passing_from_s = 0.25;
  EXPECT_EQ(
      ProvingTitle(view),
      "K390 Virtual Proving  (5 runs, limit 0.05 %, 95 % pass first at 120 ms, from 250 ms on)");
}

// A perfect train proves with zero spread at every flight time (to the last bits of a double):
// nothing to draw on a log axis,
// and the shortest flight time scanned passes. 2 s of 1 kHz pulses hold 20 provings of 5 runs
// of 19 ms at most, so the scan runs from 10 ms to just under 20 ms.
TEST(ProvingView, PerfectTrainPassesFromTheShortestFlightTime) {
  const analysis::PulseTrain train =
      analysis::BuildPulseTrain(Intervals(2000, 40000, [](int64_t) { return 0.0; }));
  const ProvingView view = ComputeProvingView(train.View(), FindPattern(train.View()));
  ASSERT_TRUE(view.valid);
  EXPECT_EQ(view.limit_pct, 0.05);  // the published value for 5 runs
  ASSERT_EQ(view.scan.rows.size(), 30u);
  EXPECT_NEAR(view.scan.rows.back().flight_s, 0.02, 0.001);
  EXPECT_EQ(view.scan.shortest_flight_s, 0.010);
  EXPECT_TRUE(RepeatabilityCurve(view.scan, ProvingStatistic::kP95).flight_ms.empty());
  EXPECT_FALSE(view.without_pattern);

  const analysis::PulseTrain short_train =
      analysis::BuildPulseTrain(Intervals(900, 40000, [](int64_t) { return 0.0; }));
  const ProvingView none = ComputeProvingView(short_train.View(), std::nullopt);
  EXPECT_FALSE(none.valid);
  EXPECT_NE(ProvingTitle(none).find("fewer than 20 provings"), std::string::npos);
}

// The pattern of 7 blades is found with its peak-to-peak: the intervals' deviations are the
// differences of neighbouring leads, (lead[p + 1] - lead[p]) / 40000, from +18 to -24 ticks
// (P-P 42 ticks = 0.105 %); without it the provings are exact.
TEST(ProvingView, PatternIsReadOutAndTakenOutOfTheProvings) {
  const analysis::PulseTrain train = analysis::BuildPulseTrain(SevenBlades(7000));
  const std::optional<analysis::PulsePattern> pattern = FindPattern(train.View());
  ASSERT_TRUE(pattern);
  EXPECT_EQ(PatternText(pattern), "Pattern B=7 P-P 0.1050 %");
  EXPECT_EQ(PatternText(std::nullopt), "");
  const ProvingView view = ComputeProvingView(train.View(), pattern);
  ASSERT_TRUE(view.valid && view.without_pattern);
  EXPECT_FALSE(RepeatabilityCurve(view.scan, ProvingStatistic::kP95).flight_ms.empty());
  EXPECT_TRUE(RepeatabilityCurve(*view.without_pattern, ProvingStatistic::kP95).flight_ms.empty());
}

// Sinusoidal jitter of 400 ticks (10 us) peak at 37.75 Hz on 1 kHz pulses: one line there, read
// within 2 % of its amplitude; 37.75 Hz is 3 bins from 1000 / 26 and 1000 / 27, so no divisor.
TEST(SpectrumView, SineJitterGivesOneLabelledLine) {
  const double amplitude = 400, hz = 37.75;
  const analysis::PulseTrain train =
      analysis::BuildPulseTrain(Intervals(20000, 40000, [&](int64_t k) {
        return amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(k) / 1000);
      }));
  const SpectrumView view = ComputeSpectrumView(train.View(), {.segment = 4096});
  ASSERT_TRUE(view.valid);
  ASSERT_EQ(view.spectrum.lines.size(), 1u);
  const analysis::SpectrumLine& line = view.spectrum.lines[0];
  EXPECT_NEAR(line.freq_hz, hz, view.spectrum.bin_hz / 2);
  EXPECT_NEAR(line.amplitude_s * 1e9, amplitude * 25, amplitude * 25 * 0.02);
  EXPECT_FALSE(line.divisor);
  // The curve leaves out bin 0 (0 Hz on a log axis) and keeps every other bin in ns.
  EXPECT_EQ(view.freq_hz.size(), view.spectrum.amplitude_s.size() - 1);
  EXPECT_EQ(view.freq_hz.front(), view.spectrum.bin_hz);
  EXPECT_EQ(view.amplitude_ns[9], view.spectrum.amplitude_s[10] * 1e9);
  EXPECT_NE(SpectrumTitle(view).find("1 line, 8 segments of 4,096)"), std::string::npos);
}

TEST(SpectrumView, LabelsNameFrequencyAmplitudeAndDivisor) {
  struct Case {
    analysis::SpectrumLine line;
    std::string label;
  };
  const Case cases[] = {
      {{142.857, 12e-9, 0.0012, 7}, "142.86 Hz  12.000 ns (0.0012 %)  B=7"},
      {{37.0, 1.5e-6, 0.15, std::nullopt}, "37.00 Hz  1500.000 ns (0.1500 %)"},
  };
  for (const Case& c : cases) EXPECT_EQ(LineLabel(c.line), c.label);
  EXPECT_EQ(SpectrumTitle({}), "K390 Jitter Spectrum  (too few pulses)");
}

// Labels 100 x 20 px in an area 500 px wide: beside their point, left of it near the right
// edge, stacked above an earlier label or the legend they would overlap, never above the area.
TEST(SpectrumView, LabelsArePlacedClearOfEachOtherAndTheLegend) {
  const LabelBox area{0, 0, 500, 400};
  const LabelBox legend{0, 0, 150, 60};
  struct Case {
    std::vector<LabelBox> points;
    std::vector<std::pair<double, double>> left_top;
  };
  const Case cases[] = {
      {{{200, 300, 100, 20}}, {{205, 275}}},
      {{{450, 300, 100, 20}}, {{345, 275}}},
      {{{200, 300, 100, 20}, {250, 300, 100, 20}}, {{205, 275}, {255, 253}}},
      {{{50, 70, 100, 20}}, {{55, 0}}},  // below the legend's foot: moved up, then held in
      {{{300, 10, 100, 20}}, {{305, 0}}},
  };
  for (const Case& c : cases) {
    const std::vector<LabelBox> placed = PlaceLabels(c.points, area, {legend});
    ASSERT_EQ(placed.size(), c.left_top.size());
    for (size_t k = 0; k < placed.size(); ++k) {
      EXPECT_EQ(placed[k].left, c.left_top[k].first) << k;
      EXPECT_EQ(placed[k].top, c.left_top[k].second) << k;
    }
  }
}

}  // namespace
}  // namespace presentation
