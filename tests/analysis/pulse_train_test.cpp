#include "analysis/pulse_train.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/timing_jitter.h"

namespace analysis {
namespace {

TEST(PulseTrain, NominalIsTheMedianWithTheMeanOfTheMiddleTwo) {
  EXPECT_EQ(NominalInterval(std::vector<int64_t>{5, 1, 9}).twice, 10);
  EXPECT_EQ(NominalInterval(std::vector<int64_t>{1000, 1003, 7, 999999}).twice, 2003);
  EXPECT_DOUBLE_EQ(NominalInterval(std::vector<int64_t>{1000, 1003, 7, 999999}).Ticks(), 1001.5);
}

TEST(PulseTrain, SpannedPeriodsAtTheQuarterBoundaries) {
  const Nominal nominal{2000};  // 1000 ticks
  const struct {
    int64_t d;
    int64_t periods;
  } cases[] = {
      {1000, 1}, {1700, 1}, {1749, 1}, {1750, 2}, {2000, 2}, {2250, 2},
      {2251, 1}, {2499, 1}, {2750, 3}, {3250, 3}, {3251, 1}, {10'000, 10},
  };
  for (const auto& c : cases) EXPECT_EQ(SpannedPeriods(c.d, nominal), c.periods) << c.d;
  // A half-tick nominal: 1001.5 ticks, a quarter of it 250.375.
  EXPECT_EQ(SpannedPeriods(2253, Nominal{2003}), 2);
  EXPECT_EQ(SpannedPeriods(2254, Nominal{2003}), 1);
}

// Missing and extra pulses at the start, the end and side by side, on a 1000-tick train.
TEST(PulseTrain, MissingAndExtraPulsesAreCountedAndPlaced) {
  const struct {
    const char* name;
    std::vector<int64_t> intervals;
    int64_t merged;
    int64_t extra;
    int64_t missing;
    std::vector<int64_t> stamps;  // -1 where no pulse
  } cases[] = {
      {"extra at the start", {300, 700, 1000, 1001, 999}, 4, 1, 0, {0, 1000, 2000, 3001, 4000}},
      {"two extras running into one",
       {100, 200, 700, 1000, 1000, 1000},
       4,
       2,
       0,
       {0, 1000, 2000, 3000, 4000}},
      {"short last interval dropped",
       {1000, 1000, 1000, 1000, 400},
       4,
       1,
       0,
       {0, 1000, 2000, 3000, 4000}},
      {"missing at the start", {2000, 1000, 1000, 1000}, 4, 0, 1, {0, -1, 2000, 3000, 4000, 5000}},
      {"two missing at the end",
       {1000, 1000, 1000, 3010},
       4,
       0,
       2,
       {0, 1000, 2000, 3000, -1, -1, 6010}},
      {"missing beside an extra",
       {1000, 1000, 2000, 400, 600, 1000, 1000},
       6,
       1,
       1,
       {0, 1000, 2000, -1, 4000, 5000, 6000, 7000}},
      {"missing beside missing",
       {1000, 2000, 2000, 1000, 1000},
       5,
       0,
       2,
       {0, 1000, -1, 3000, -1, 5000, 6000, 7000}},
      {"too far from two periods", {1000, 1000, 1700, 1000}, 4, 0, 0, {0, 1000, 2000, 3700, 4700}},
  };
  for (const auto& c : cases) {
    const PulseTrain train = BuildPulseTrain(c.intervals);
    EXPECT_EQ(train.intervals, c.merged) << c.name;
    EXPECT_EQ(train.extra_pulses, c.extra) << c.name;
    EXPECT_EQ(train.missing_pulses, c.missing) << c.name;
    ASSERT_EQ(train.stamps.size(), c.stamps.size()) << c.name;
    for (size_t k = 0; k < c.stamps.size(); ++k) {
      EXPECT_EQ(train.stamps[k], c.stamps[k] < 0 ? kNoPulse : c.stamps[k]) << c.name << " k=" << k;
    }
  }
  EXPECT_TRUE(BuildPulseTrain({0, 0, 0}).stamps.empty());
  EXPECT_TRUE(BuildPulseTrain({}).stamps.empty());
}

// Intervals 1000, 1002, 998, 1000: stamps 0, 1000, 2002, 3000, 4000. The least-squares line is
// 2000.4 + 1000 (k - 2), leaving -0.4, -0.4, 1.6, -0.4, -0.4 ticks.
TEST(TimingJitter, FiguresOfASmallTrainAndTheirGaps) {
  const TimingJitter j = ComputeTimingJitter(BuildPulseTrain({1000, 1002, 998, 1000}));
  const double tick = 25e-9;
  EXPECT_EQ(j.intervals, 4);
  EXPECT_DOUBLE_EQ(j.tau0_s, 1000 * tick);
  EXPECT_NEAR(j.period_jitter_rms, std::sqrt(8.0 / 3) * tick, 1e-22);
  EXPECT_NEAR(j.period_jitter_pp, 4 * tick, 1e-22);
  EXPECT_NEAR(j.cycle_to_cycle_max, 4 * tick, 1e-22);
  EXPECT_NEAR(j.cycle_to_cycle_rms, std::sqrt(24.0 / 3) * tick, 1e-22);
  EXPECT_NEAR(j.tie_pp, 2 * tick, 1e-20);
  EXPECT_NEAR(j.tie_rms, 0.8 * tick, 1e-20);

  // A missing pulse ends the run of ordinary intervals: 1002 and 1000 are never a pair, and
  // the spanning interval is in no period figure.
  const PulseTrain holed = BuildPulseTrain({1000, 1002, 2000, 1000, 1004});
  ASSERT_EQ(holed.missing_pulses, 1);
  const TimingJitter h = ComputeTimingJitter(holed);
  EXPECT_NEAR(h.period_jitter_pp, 4 * tick, 1e-22);
  EXPECT_NEAR(h.cycle_to_cycle_max, 4 * tick, 1e-22);
  EXPECT_NEAR(h.cycle_to_cycle_rms, std::sqrt((4.0 + 16) / 2) * tick, 1e-22);
  const std::vector<double> tie = TiePerPulse(holed);
  EXPECT_TRUE(std::isnan(tie[3]));
  EXPECT_EQ(std::count_if(tie.begin(), tie.end(), [](double e) { return std::isnan(e); }), 1);
}

}  // namespace
}  // namespace analysis
