#include "analysis/pulse_train.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "analysis/timing_jitter.h"
#include "train_shapes.h"

namespace analysis {
namespace {

TEST(PulseTrain, CountsAreExactAtEveryRateWithJitterGapsAndExtraPulses) {
  const int64_t kOver20 = (int64_t{1} << 20) + 3;
  const Shape shapes[] = {
      {"2 MHz, 2 ticks of Gaussian jitter", 20, 2, 500'000, {}, {}},
      {"3 MHz, gaps of 1, 10 and 100",
       40e6 / 3e6,
       0.3,
       200'000,
       {{1000, 1}, {50'000, 10}, {120'000, 100}},
       {}},
      {"4.7 MHz, extra pulses and a gap of 1000",
       40e6 / 4.7e6,
       0.3,
       400'000,
       {{300'000, 1000}},
       {{1000, 0.2}, {2000, 0.8}, {3000, 0.15}, {3000, 0.3}}},
      {"30 kHz, a one-second dropout", 40e6 / 3e4, 5, 130'000, {{40'000, 30'000}}, {}},
      {"1 MHz, a gap of 10^6", 40, 1, 1'600'000, {{300'000, 1'000'000}}, {}},
      {"1 MHz, starting in a gap over 2^20", 40, 1, kOver20 + 400'000, {{1, kOver20}}, {}},
      {"1 MHz, ending in a gap of 1000", 40, 1, 100'000, {{98'999, 1000}}, {}},
      {"1 kHz, extras and a missing pulse",
       40000,
       6,
       20'000,
       {{500, 1}},
       {{100, 0.3}, {200, 0.7}, {300, 0.1}}},
  };
  for (const Shape& shape : shapes) {
    const Truth truth = Build(shape, 17);
    const PulseTrain train = BuildPulseTrain(truth.intervals);
    EXPECT_EQ(train.missing_pulses, truth.missing) << shape.name;
    EXPECT_EQ(train.extra_pulses, truth.extra) << shape.name;
    EXPECT_EQ(train.extra_stamps.size(), static_cast<size_t>(truth.extra)) << shape.name;
    EXPECT_TRUE(train.index == truth.index) << shape.name;
    EXPECT_NEAR(train.Tau0Ticks(), shape.period, shape.period * 1e-6) << shape.name;
    EXPECT_EQ(train.ambiguous, "") << shape.name;
  }
}

// An extra pulse a fraction of a period after every 700th pulse, wherever it falls in the first
// three quarters: the train kept is the same train without them, stamp for stamp, so its period
// and its TIE are its own. Jitter of a tenth of the period alone raises none.
TEST(PulseTrain, ExtraPulsesGoAndTheTruePulsesStay) {
  const struct {
    double period, jitter_sd;
    int64_t pulses;
    double fraction;  // below 0: no extra pulses
  } cases[] = {
      {40000, 6, 20'000, 0.3}, {40000, 6, 20'000, 0.5}, {40000, 6, 20'000, 0.6},
      {40000, 6, 20'000, 0.7}, {1000, 1, 20'000, 0.45}, {1000, 1, 20'000, 0.55},
      {1000, 1, 20'000, 0.74}, {20, 0.3, 20'000, 0.5},  {40e6 / 3e6, 0.3, 20'000, 0.6},
      {20, 2, 500'000, -1},
  };
  const auto stamps = [](const Truth& t) {
    std::vector<int64_t> s{0};
    std::partial_sum(t.intervals.begin(), t.intervals.end(), std::back_inserter(s));
    return s;
  };
  for (const auto& c : cases) {
    Shape shape{"", c.period, c.jitter_sd, c.pulses, {{500, 1}}, {}};
    const Truth clean = Build(shape, 23);
    for (int64_t k = 100; c.fraction >= 0 && k < c.pulses; k += 700) {
      shape.extras.emplace_back(k, c.fraction);
    }
    const Truth truth = Build(shape, 23);
    const std::vector<int64_t> all = stamps(truth), kept = stamps(clean);
    std::vector<int64_t> extra;
    std::set_difference(all.begin(), all.end(), kept.begin(), kept.end(),
                        std::back_inserter(extra));
    const PulseTrain train = BuildPulseTrain(truth.intervals);
    const std::string name = std::to_string(c.period) + " ticks, " + std::to_string(c.fraction);
    EXPECT_EQ(train.extra_stamps, extra) << name;
    EXPECT_EQ(train.extra_pulses, truth.extra) << name;
    EXPECT_EQ(train.missing_pulses, truth.missing) << name;
    EXPECT_EQ(train.stamp, kept) << name;
    EXPECT_EQ(train.index, clean.index) << name;
    EXPECT_NEAR(train.period.Ticks(), c.period, c.period * 1e-5) << name;
    EXPECT_LT(ComputeTimingJitter(train).tie_pp, (12 * c.jitter_sd + 2) * 25e-9) << name;
  }
}

// Hand-made intervals of a 1000-tick train: what each rule does with them.
TEST(PulseTrain, ShortIntervalsAreJitterOrExtraPulsesAndLongOnesGaps) {
  const struct {
    const char* name;
    std::vector<int64_t> intervals;
    int64_t extra;
    std::vector<int64_t> index;
    std::vector<int64_t> stamp;
    std::vector<int64_t> extra_stamps;
  } cases[] = {
      {"extra at the start",
       {300, 700, 1000, 1001, 999},
       1,
       {0, 1, 2, 3, 4},
       {0, 1000, 2000, 3001, 4000},
       {300}},
      {"two extras running into one",
       {100, 200, 700, 1000, 1000, 1000},
       2,
       {0, 1, 2, 3, 4},
       {0, 1000, 2000, 3000, 4000},
       {100, 300}},
      {"short last interval dropped",
       {1000, 1000, 1000, 1000, 400},
       1,
       {0, 1, 2, 3, 4},
       {0, 1000, 2000, 3000, 4000},
       {4400}},
      {"missing at the start",
       {2000, 1000, 1000, 1000},
       0,
       {0, 2, 3, 4, 5},
       {0, 2000, 3000, 4000, 5000},
       {}},
      {"two missing at the end",
       {1000, 1000, 1000, 3010},
       0,
       {0, 1, 2, 3, 6},
       {0, 1000, 2000, 3000, 6010},
       {}},
      {"a gap then an extra pulse",
       {1000, 1000, 2000, 400, 600, 1000, 1000},
       1,
       {0, 1, 2, 4, 5, 6, 7},
       {0, 1000, 2000, 4000, 5000, 6000, 7000},
       {4400}},
      {"gap beside gap",
       {1000, 2000, 2000, 1000, 1000},
       0,
       {0, 1, 3, 5, 6, 7},
       {0, 1000, 3000, 5000, 6000, 7000},
       {}},
      {"1.7 periods round to two",
       {1000, 1000, 1700, 1000},
       0,
       {0, 1, 2, 4, 5},
       {0, 1000, 2000, 3700, 4700},
       {}},
      {"a late and an early pulse side by side",
       {1000, 1000, 1300, 400, 1300, 1000},
       0,
       {0, 1, 2, 3, 4, 5, 6},
       {0, 1000, 2000, 3300, 3700, 5000, 6000},
       {}},
      {"a late first pulse pairs with the interval after",
       {400, 1300, 1000, 1000},
       0,
       {0, 1, 2, 3, 4},
       {0, 400, 1700, 2700, 3700},
       {}},
      {"a pulse 0.6 periods late is jitter",
       {1000, 1600, 400, 1000},
       0,
       {0, 1, 2, 3, 4},
       {0, 1000, 2600, 3000, 4000},
       {}},
      {"a late, an early and a later pulse are jitter, not an extra",
       {1000, 1000, 1400, 700, 500, 1400, 1000},
       0,
       {0, 1, 2, 3, 4, 5, 6, 7},
       {0, 1000, 2000, 3400, 4100, 4600, 6000, 7000},
       {}},
      {"a pulse 0.8 periods late is a gap and an extra",
       {1000, 1800, 200, 1000},
       1,
       {0, 1, 3, 4},
       {0, 1000, 2800, 4000},
       {3000}},
      {"an interval is in one window of jitter only",
       {1000, 1000, 1000, 1000, 440, 1400, 440, 1000, 1000, 1000, 1000},
       1,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
       {0, 1000, 2000, 3000, 4000, 4440, 5840, 7280, 8280, 9280, 10280},
       {6280}},
      {"equal stamps", {1000, 0, 1000, 1000}, 1, {0, 1, 2, 3}, {0, 1000, 2000, 3000}, {1000}},
  };
  for (const auto& c : cases) {
    const PulseTrain train = BuildPulseTrain(c.intervals);
    EXPECT_EQ(train.extra_pulses, c.extra) << c.name;
    EXPECT_EQ(train.missing_pulses, c.index.back() + 1 - static_cast<int64_t>(c.index.size()))
        << c.name;
    EXPECT_EQ(train.intervals + 1, static_cast<int64_t>(c.index.size())) << c.name;
    EXPECT_EQ(train.index, c.index) << c.name;
    EXPECT_EQ(train.stamp, c.stamp) << c.name;
    EXPECT_EQ(train.extra_stamps, c.extra_stamps) << c.name;
  }
  EXPECT_TRUE(BuildPulseTrain(std::vector<int64_t>{0, 0, 0}).Empty());
  EXPECT_TRUE(BuildPulseTrain(std::vector<int64_t>{}).Empty());
}

TEST(PulseTrain, UnsoundDecisionsSayWhy) {
  const struct {
    const char* name;
    std::vector<int64_t> intervals;
    const char* holds;  // "" when sound
  } cases[] = {
      {"sound", {1000, 1001, 999, 1000, 5000, 1000}, ""},
      {"a period of 5 ticks", {5, 5, 5, 5, 5}, "the period, 5 ticks, is under 8"},
      {"a period of 8 ticks", {8, 8, 8, 8, 8}, ""},
      {"a spread over a quarter period",
       {1000, 1400, 600, 1400, 600, 1000},
       "spread 326.6 ticks RMS, over a quarter of the 1000 tick period"},
      {"a gap four intervals cannot fix",
       {1000, 1001, 999, 1000, 10'000'000},
       "1 gap of up to 10000 periods, longer than"},
  };
  for (const auto& c : cases) {
    const std::string why = BuildPulseTrain(c.intervals).ambiguous;
    if (*c.holds == '\0') {
      EXPECT_EQ(why, "") << c.name;
    } else {
      EXPECT_NE(why.find(c.holds), std::string::npos) << c.name << ": " << why;
    }
  }
}

// The period the rule sorts with is an exact ratio; halves round up.
TEST(PulseTrain, PeriodsRoundHalvesUp) {
  const struct {
    Period period;
    int64_t ticks;
    int64_t periods;
  } cases[] = {
      {{1000, 1}, 499, 0},  {{1000, 1}, 500, 1},  {{1000, 1}, 1499, 1},
      {{1000, 1}, 1500, 2}, {{2003, 2}, 500, 0},  {{2003, 2}, 501, 1},
      {{2003, 2}, 1502, 1}, {{2003, 2}, 1503, 2}, {{40, 3}, 20, 2},
      {{40, 3}, 19, 1},     {{40, 3}, -5, 0},     {{40, 3}, 13'333'333'340, 1'000'000'001},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PeriodsIn(c.ticks, c.period), c.periods)
        << c.period.sum << "/" << c.period.count << " " << c.ticks;
  }
}

// Intervals 1000, 1002, 998, 1000: stamps 0, 1000, 2002, 3000, 4000. The least-squares line is
// 2000.4 + 1000 (k - 2), leaving -0.4, -0.4, 1.6, -0.4, -0.4 ticks.
TEST(TimingJitter, FiguresOfASmallTrainAndTheirGaps) {
  const TimingJitter j =
      ComputeTimingJitter(BuildPulseTrain(std::vector<int64_t>{1000, 1002, 998, 1000}));
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
  const PulseTrain holed = BuildPulseTrain(std::vector<int64_t>{1000, 1002, 2000, 1000, 1004});
  ASSERT_EQ(holed.missing_pulses, 1);
  const TimingJitter h = ComputeTimingJitter(holed);
  EXPECT_NEAR(h.period_jitter_pp, 4 * tick, 1e-22);
  EXPECT_NEAR(h.cycle_to_cycle_max, 4 * tick, 1e-22);
  EXPECT_NEAR(h.cycle_to_cycle_rms, std::sqrt((4.0 + 16) / 2) * tick, 1e-22);
  EXPECT_EQ(TiePerPulse(holed).size(), 6u);
}

// An extra pulse 0.6 periods after the pulse at 10000: it goes, and the true pulse at 11000
// stays. The interval it was merged into, and those on either side, are no ordinary intervals.
TEST(TimingJitter, IntervalsBesideAnExtraPulseAreNotOrdinary) {
  std::vector<int64_t> intervals(10, 1000);
  intervals.push_back(600);
  intervals.push_back(400);
  intervals.insert(intervals.end(), 10, 1000);
  const PulseTrain train = BuildPulseTrain(intervals);
  ASSERT_EQ(train.extra_stamps, std::vector<int64_t>{10600});
  const TimingJitter j = ComputeTimingJitter(train);
  EXPECT_EQ(j.ordinary, 18);  // of 21: not 9000-10000, 10000-11000 or 11000-12000
  EXPECT_EQ(j.period_pp_ticks, 0);
  EXPECT_DOUBLE_EQ(j.period_mean_ticks, 1000);
}

}  // namespace
}  // namespace analysis
