#include "analysis/channel_difference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "analysis/stability.h"

namespace analysis {
namespace {

constexpr double kTick = 25e-9;

double Tdev(const std::vector<StabilityRow>& rows, int64_t m) {
  for (const StabilityRow& row : rows) {
    if (row.deviation == Deviation::kTdev && row.m == m) return row.value;
  }
  return std::nan("");
}

// A pulse lost on the slower line leaves a NaN at its place; the points are d - mean(d).
TEST(ChannelDifference, OnePointPerSlowerPulseWithGapsAsNaN) {
  std::vector<int64_t> ch1;
  std::vector<int64_t> ch2;
  for (int64_t k = 0; k < 20; ++k) {
    ch1.push_back(k * 40000);
    if (k != 5) ch2.push_back(k * 40000 + 10000 + (k % 2) * 4);  // 10000 or 10004 ticks
  }
  const DifferenceRecord record = DifferencePhase(PairChannels(ch1, ch2));
  ASSERT_EQ(record.phase_s.size(), 20u);
  EXPECT_DOUBLE_EQ(record.tau0_s, (19 * 40000 + 4) / 19.0 * kTick);  // channel 2, first to last
  const double mean = (10 * 10000.0 + 9 * 10004.0) / 19;             // pulse 5 (odd) lost
  for (size_t k = 0; k < 20; ++k) {
    if (k == 5) {
      EXPECT_TRUE(std::isnan(record.phase_s[k]));
      continue;
    }
    EXPECT_NEAR(record.phase_s[k], (10000.0 + static_cast<double>(k % 2) * 4 - mean) * kTick, 1e-15)
        << k;
  }
}

// The 25 ns quantisation floor of the time difference. A stamp's rounding error is uniform on
// +/-q/2 (q = 25 ns), variance q^2 / 12, when its edge's position within the tick is uniform;
// the two stamps of a pair round independently, so the difference carries q^2 / 6. For white
// phase noise of variance s^2, TDEV^2(m tau0) = E[(sum of m second differences)^2] / (6 m^2),
// and that sum is S3 - 2 S2 + S1 over three disjoint blocks of m points, variance 6 m s^2:
// TDEV = s / sqrt(m), at tau0 q / sqrt(6) = 10.2 ns. Here both lines share 30 ticks of jitter,
// which cancels in the difference and spreads each edge over the tick, and channel 2 slips a
// little each pulse so the sub-tick part of the true difference sweeps the tick (for a fixed
// part f the variance would be f (1 - f) q^2, which averages to q^2 / 6); the slip is a linear
// phase, which TDEV does not see. A numpy model with a direct TDEV gives 10.18 and 5.06 ns.
TEST(ChannelDifference, WhiteQuantisationFloorOfTdev) {
  std::mt19937_64 random(3);
  std::normal_distribution<double> common_jitter(0, 30);
  std::vector<int64_t> ch1;
  std::vector<int64_t> ch2;
  for (int k = 0; k < 20000; ++k) {
    const double edge = 1000 + k * 40000.0 + common_jitter(random);
    ch1.push_back(std::llround(edge));
    ch2.push_back(std::llround(edge + 10000.3 + k * 0.0137));
  }
  const DifferenceRecord record = DifferencePhase(PairChannels(ch1, ch2));
  const std::vector<int64_t> factors = {1, 4};
  const std::vector<StabilityRow> rows = StabilityTable(record.phase_s, record.tau0_s, factors);
  const double floor = 25e-9 / std::sqrt(6.0);
  EXPECT_NEAR(Tdev(rows, 1), floor, 0.04 * floor);
  EXPECT_NEAR(Tdev(rows, 4), floor / 2, 0.04 * floor / 2);
}

}  // namespace
}  // namespace analysis
