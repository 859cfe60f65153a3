#include "analysis/pulse_pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/error.h"
#include "synthetic_train.h"

namespace analysis {
namespace {

using testing::OwnedTrain;

using testing::TrainFromEdges;

constexpr int64_t kPulses = 50000;

// Edges of intervals period + offsets[k mod B], each displaced by white jitter of `rms` ticks.
OwnedTrain Rotor(int64_t count, const std::vector<int64_t>& offsets, double rms,
                 const std::vector<int64_t>& missing = {}) {
  std::mt19937_64 engine(11);
  std::normal_distribution<double> noise(0.0, rms);
  std::vector<double> edge(static_cast<size_t>(count), 0.0);
  for (int64_t k = 1; k < count; ++k)
    edge[static_cast<size_t>(k)] =
        edge[static_cast<size_t>(k - 1)] + 40000 +
        static_cast<double>(
            offsets[static_cast<size_t>((k - 1) % static_cast<int64_t>(offsets.size()))]);
  for (double& e : edge) e += rms > 0 ? noise(engine) : 0;
  return TrainFromEdges(
      count, [&](int64_t k) { return edge[static_cast<size_t>(k)]; }, missing);
}

TEST(PulsePattern, RecoversTheBladesOfARotor) {
  const struct {
    std::vector<int64_t> offsets;  // ticks on a 40000-tick period; they sum to 0
    double rms;
    std::vector<int64_t> missing;
    double residual_rms;  // ticks: the interval of two edges of jitter s has rms sqrt(2) s
  } cases[] = {
      {{400, -100, -300, 200, 0, -200, 100, 300, -400, 0}, 0, {}, 0},
      {{30, -10, -30, 10}, 0, {17, 18, 401, 1002}, 0},
      {{60, -20, 0, -40, 10, -10, 0}, 20, {}, std::sqrt(2.0) * 20},
      {{8, -8}, 3, {5}, std::sqrt(2.0) * 3},
  };
  for (const auto& c : cases) {
    const auto b = static_cast<int64_t>(c.offsets.size());
    const OwnedTrain train = Rotor(kPulses, c.offsets, c.rms, c.missing);
    EXPECT_EQ(FindPatternPositions(train.View()), b);
    const PulsePattern p = ComputePulsePattern(train.View(), b);
    ASSERT_EQ(p.deviation_pct.size(), c.offsets.size());
    // A position's mean of n intervals of rms sqrt(2) s: to within 5 standard errors.
    const double tolerance = 5 * c.residual_rms / std::sqrt(static_cast<double>(kPulses / b));
    for (size_t i = 0; i < c.offsets.size(); ++i)
      EXPECT_NEAR(p.deviation_pct[i] / 100 * p.mean_interval_ticks,
                  static_cast<double>(c.offsets[i]), tolerance + 1e-9)
          << b << " position " << i;
    EXPECT_NEAR(p.mean_interval_ticks, 40000, tolerance + 1e-9);
    EXPECT_NEAR(p.residual_rms_ticks, c.residual_rms, 0.02 * c.residual_rms + 1e-9) << b;
    EXPECT_NEAR(p.residual_rms_pct, p.residual_rms_ticks / 400, 1e-6) << b;
    if (c.rms == 0) {
      EXPECT_EQ(p.residual_pp_ticks, 0);
      const PatternFreeStamps clean = RemovePattern(train.View(), p);
      ASSERT_EQ(clean.stamp.size(), train.index.size());
      for (size_t i = 0; i < clean.stamp.size(); ++i)
        ASSERT_EQ(clean.stamp[i], train.index[i] * 40000) << b << " pulse " << i;
    }
  }
}

TEST(PulsePattern, NoPatternIsFoundInWhiteJitterOrAPerfectTrain) {
  for (double rms : {0.0, 5.0, 300.0}) {
    const OwnedTrain train = testing::JitteredTrain(kPulses, 40000, rms, 3);
    EXPECT_EQ(FindPatternPositions(train.View()), std::nullopt) << rms;
  }
}

TEST(PulsePattern, APositionWithoutAWholeIntervalIsAnError) {
  const OwnedTrain train =
      TrainFromEdges(12, [](int64_t k) { return static_cast<double>(k) * 100; }, {3, 7});
  EXPECT_NO_THROW(ComputePulsePattern(train.View(), 3));
  EXPECT_THROW(ComputePulsePattern(train.View(), 4), common::Error);
  EXPECT_THROW(ComputePulsePattern(train.View(), 20), common::Error);
}

}  // namespace
}  // namespace analysis
