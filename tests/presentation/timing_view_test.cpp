#include "presentation/timing_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "presentation/chart_maths.h"

namespace presentation {
namespace {

using analysis::Deviation;

// 1000 ticks a pulse with a small alternating error, so that every figure is above 0.
std::vector<double> Jittered(int count) {
  std::vector<double> d;
  for (int k = 0; k < count; ++k) d.push_back(k % 2 == 0 ? 1002 : 998);
  return d;
}

TEST(TimingView, MissingAndExtraPulsesAreCountedAndMarkedOnTheTrace) {
  std::vector<double> d = Jittered(64);
  d[10] = 2000;  // one pulse missing inside
  d[20] = 3000;  // two more
  d[30] = 400;   // an extra pulse splits the next interval
  d[31] = 600;
  const TimingView view = ComputeTimingView(d);
  ASSERT_TRUE(view.valid);
  EXPECT_EQ(view.jitter.missing_pulses, 3);
  EXPECT_EQ(view.jitter.extra_pulses, 1);
  ASSERT_EQ(view.missing.size(), 3u);
  // Interval k runs from pulse k to k + 1 until the first gap, which moves the rest on by one.
  EXPECT_EQ(view.missing[0].index, 11);
  EXPECT_EQ(view.missing[1].index, 22);
  EXPECT_EQ(view.missing[2].index, 23);
  // 64 pulses present and a NaN point that breaks the trace in each of the two gaps.
  ASSERT_EQ(view.tie_index.size(), 66u);
  ASSERT_EQ(view.tie_ns.size(), 66u);
  const auto tie_at = [&view](double k) {
    const auto at = std::find(view.tie_index.begin(), view.tie_index.end(), k);
    return at == view.tie_index.end()
               ? -1e300
               : view.tie_ns[static_cast<size_t>(at - view.tie_index.begin())];
  };
  EXPECT_TRUE(std::isnan(tie_at(11)) && std::isnan(tie_at(22)));
  EXPECT_EQ(tie_at(23), -1e300);
  // The marks sit on the straight line between the pulses on either side of their gap.
  EXPECT_NEAR(view.missing[0].tie_ns, (tie_at(10) + tie_at(12)) / 2, 1e-9);
  EXPECT_NEAR(view.missing[1].tie_ns, tie_at(21) + (tie_at(24) - tie_at(21)) / 3, 1e-9);
  EXPECT_NEAR(view.missing[2].tie_ns, tie_at(21) + 2 * (tie_at(24) - tie_at(21)) / 3, 1e-9);
  EXPECT_EQ(PulseCountText(view.jitter), "Window: missing 3 / extra 1");
  EXPECT_EQ(FigureMarkText(view.jitter), "3 missing and 1 extra pulses are in these figures");
}

// The readout goes on with the period jitter of the ordinary intervals when the train has
// missing or extra pulses: P-P of 1002 and 998 ticks, and twice the standard deviation (n - 1),
// both as a percentage of the mean of the intervals left.
TEST(TimingView, ReadoutGivesThePeriodJitterWithoutMissingAndExtraPulses) {
  std::vector<double> d = Jittered(40);
  d[20] = 2000;
  const TimingView view = ComputeTimingView(d, {.tie = false, .stability = false});
  ASSERT_TRUE(view.valid);
  // 39 ordinary intervals: 19 of 1002 ticks (the 20th was the gap) and 20 of 998.
  const double mean = (19 * 1002.0 + 20 * 998.0) / 39;
  const double var = (19 * std::pow(1002 - mean, 2) + 20 * std::pow(998 - mean, 2)) / 38;
  const double twice_sd = 2 * std::sqrt(var);
  char expected[160];
  std::snprintf(expected, sizeof expected,
                "   |   Without them: P-P 4 ticks (%.4f %%)  RMS %d ticks (%.4f %%)",
                4 / mean * 100, static_cast<int>(std::lround(twice_sd)), twice_sd / mean * 100);
  const std::string readout = ReadoutText(view.jitter);
  EXPECT_NE(readout.find(expected), std::string::npos) << readout;
  EXPECT_EQ(ReadoutText(ComputeTimingView(Jittered(40)).jitter).find("Without"), std::string::npos);
  EXPECT_EQ(FigureMarkText(ComputeTimingView(Jittered(40)).jitter), "");
}

TEST(TimingView, FiguresAreInNanosecondsAndOnlyThePlottedDeviationsKept) {
  const TimingView view = ComputeTimingView(Jittered(256));
  ASSERT_TRUE(view.valid);
  // Alternating 1002 / 998 ticks: every cycle-to-cycle step is 4 ticks = 100 ns.
  EXPECT_NEAR(view.jitter.cycle_to_cycle_max * 1e9, 100, 1e-6);
  EXPECT_EQ(view.tie_ns.size(), 257u);
  EXPECT_EQ(view.tie_index.back(), 256.0);
  EXPECT_TRUE(view.missing.empty());
  EXPECT_EQ(PulseCountText(view.jitter), "");
  int per_deviation[3] = {};
  for (const analysis::StabilityRow& row : view.stability) {
    ASSERT_TRUE(row.deviation == Deviation::kOadev || row.deviation == Deviation::kMdev ||
                row.deviation == Deviation::kOhdev);
    ++per_deviation[row.deviation == Deviation::kOadev  ? 0
                    : row.deviation == Deviation::kMdev ? 1
                                                        : 2];
  }
  EXPECT_EQ(per_deviation[0], 7);  // m = 1 .. 64 for K = 256
  EXPECT_EQ(per_deviation[1], 7);
  EXPECT_GT(per_deviation[2], 0);
  // The readout alone leaves the views' parts out and keeps its figures.
  const TimingView readout_only =
      ComputeTimingView(Jittered(256), {.tie = false, .stability = false});
  EXPECT_TRUE(readout_only.tie_ns.empty() && readout_only.stability.empty());
  EXPECT_EQ(ReadoutText(readout_only.jitter), ReadoutText(view.jitter));
  const std::string readout = ReadoutText(view.jitter);
  EXPECT_NE(readout.find("Cycle-to-cycle RMS 100.000 ns  max 100.000 ns"), std::string::npos)
      << readout;
}

TEST(TimingView, InputsWithoutATrainGiveNothing) {
  const std::vector<std::vector<double>> inputs = {{}, {0, 0, 0}, {1000, NAN, 1000}};
  for (const auto& input : inputs) {
    const TimingView view = ComputeTimingView(input);
    EXPECT_FALSE(view.valid);
    EXPECT_TRUE(view.tie_ns.empty() && view.stability.empty());
  }
}

TEST(TimingView, RunLineGroupsCountsAndScalesTheRate) {
  analysis::RunSummary run;
  run.words = 1234567;
  run.mean_rate = 1.0e6;
  run.missing_pulses = 3;
  run.lost_words = 12345;
  run.pp_ticks = 80012;
  run.pp_pct = 0.03;
  EXPECT_EQ(RunLineText(run),
            "Run: 1,234,567 words  1.00 MHz  missing 3  lost 12,345  P-P 80,012 ticks (0.03 %)");
  run.mean_rate = 2500;
  EXPECT_NE(RunLineText(run).find("  2.50 kHz  "), std::string::npos);
  run.mean_rate = std::nan("");  // no instrument time yet
  EXPECT_NE(RunLineText(run).find("  - Hz  "), std::string::npos);
  EXPECT_EQ(WholeRunTitle(999), "K390 Stability  (whole run, 999 intervals)");
}

TEST(TimingView, StabilityPointTextNamesBoundsOnlyWhenKnown) {
  analysis::StabilityRow row;
  row.deviation = Deviation::kMdev;
  row.tau_s = 0.004;
  row.value = 1.5e-6;
  row.n = 12;
  EXPECT_EQ(StabilityPointText(row), "MDEV  tau 0.004 s  1.5e-06  n 12");
  row.min = 1.2e-6;
  row.max = 2e-6;
  EXPECT_EQ(StabilityPointText(row), "MDEV  tau 0.004 s  1.5e-06  [1.2e-06 .. 2e-06]  n 12");
}

TEST(LogAxisMaths, DecadesHoldEveryDrawableValue) {
  struct Case {
    std::vector<double> values;
    double minimum;
    double maximum;
  };
  const Case cases[] = {
      {{3e-7, 2e-5}, 1e-7, 1e-4},
      {{1.0000001e-3}, 1e-4, 1e-2},      // on the frame: one more decade below
      {{9.9e-4, 2e-4}, 1e-4, 1e-2},      // and above
      {{5e-6, 0, -1, NAN}, 1e-6, 1e-5},  // values a log axis cannot draw are left out
      {{0, NAN}, 1, 10},
  };
  for (const Case& c : cases) {
    const AxisRange range = LogDecades(c.values);
    EXPECT_NEAR(range.minimum / c.minimum, 1, 1e-12);
    EXPECT_NEAR(range.maximum / c.maximum, 1, 1e-12);
  }
}

TEST(LogAxisMaths, ErrorBarArmsFollowTheBoundsOnTheirSide) {
  struct Case {
    std::optional<double> minimum, maximum;
    double below, above;
  };
  const Case cases[] = {
      {0.5, 3.0, 1.5, 1.0},
      {std::nullopt, 3.0, 0, 1.0},
      {2.5, 1.0, 0, 0},  // bounds on the wrong side draw nothing
  };
  for (const Case& c : cases) {
    const ErrorBar bar = BoundsBar(2.0, c.minimum, c.maximum);
    EXPECT_DOUBLE_EQ(bar.below, c.below);
    EXPECT_DOUBLE_EQ(bar.above, c.above);
  }
}

}  // namespace
}  // namespace presentation
