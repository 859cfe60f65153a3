#include "analysis/noise_id.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace analysis {
namespace {

// Phase of a power-law noise: white phase (alpha 2), its running sum (white frequency,
// alpha 0) or the running sum of that (random-walk frequency, alpha -2).
std::vector<double> Phase(int alpha, size_t n, uint64_t seed) {
  std::mt19937_64 engine(seed);
  std::normal_distribution<double> normal(0.0, 1e-9);
  std::vector<double> x(n);
  double y = 0, sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double w = normal(engine);
    if (alpha == 2) {
      x[i] = w;
    } else if (alpha == 0) {
      sum += w;
      x[i] = sum;
    } else {
      y += w;
      sum += y;
      x[i] = sum;
    }
  }
  return x;
}

TEST(NoiseId, Lag1AutocorrelationFindsTheNoiseAtEachFactor) {
  for (int alpha : {2, 0, -2}) {
    const std::vector<double> x = Phase(alpha, 4096, 7 + static_cast<uint64_t>(alpha + 2));
    for (int64_t m : {1, 4, 32}) {
      EXPECT_EQ(IdentifyNoise(x, m), alpha) << "alpha=" << alpha << " m=" << m;
    }
  }
}

// Below 30 decimated points the B1 ratio decides; a missing point is left out of the record.
TEST(NoiseId, FewPointsFallBackToTheB1Ratio) {
  for (int alpha : {2, 0}) {
    std::vector<double> x = Phase(alpha, 26, 11 + static_cast<uint64_t>(alpha + 2));
    x[5] = std::nan("");
    EXPECT_EQ(IdentifyNoise(x, 1), alpha) << "alpha=" << alpha;
  }
  // A frequency ramp: the N-sample variance far above the two-sample one, as for a random walk.
  std::vector<double> ramp;
  for (int i = 0; i < 26; ++i) ramp.push_back(1e-9 * i * i);
  EXPECT_EQ(IdentifyNoise(ramp, 1), -2);
  EXPECT_EQ(IdentifyNoise(Phase(0, 3, 1), 1), std::nullopt);
  // The expected ratios: 1 for white frequency noise, N / 2 for a random walk of it.
  EXPECT_DOUBLE_EQ(B1Ratio(20, -1), 1.0);
  EXPECT_DOUBLE_EQ(B1Ratio(20, 1), 10.0);
}

}  // namespace
}  // namespace analysis
