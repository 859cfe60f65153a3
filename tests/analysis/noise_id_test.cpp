#include "analysis/noise_id.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
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

// The exact sums of DecimatedNoise against the plain computation on the phase in seconds
// (quadratic removed, differenced, correlated in doubles), on the pulses kept at 0, m, 2m ...
// of trains with missing pulses, a period that is no whole number of ticks, a drift, and a
// start so long that the sums leave 128 bits.
TEST(NoiseId, ExactSumsGiveTheCorrelationsOfThePhase) {
  struct Case {
    const char* name;
    int alpha;          // of the jitter added to the stamps
    double period;      // ticks
    double drift;       // ticks per index squared
    int64_t m;          // factor: the indices kept
    int64_t points;     // kept indices
    int64_t gap_every;  // a kept pulse missing every so many; 0 none
    double first;       // ticks added to every stamp after the first
  };
  const Case cases[] = {
      {"white PM, 3 MHz", 2, 13.333, 0, 1, 4000, 97, 0},
      {"white PM and a drift over several blocks of the running sums", 2, 40000.25, 1e-3, 1, 9000,
       0, 0},
      {"indices past 2^31 among narrow ones", 2, 40, 0, int64_t{1} << 22, 700, 0, 0},
      {"white FM, wide factor", 0, 40000.5, 0, 64, 300, 0, 0},
      {"random-walk FM with drift", -2, 2000, 1e-6, 4, 1200, 31, 0},
      {"a start of 2^58 ticks", 2, 10, 0, int64_t{1} << 20, 200, 0, 0x1p58},
      {"few points: B1", 0, 400, 0, 8, 25, 7, 0},
  };
  for (const Case& c : cases) {
    const std::vector<double> noise = Phase(c.alpha, static_cast<size_t>(c.points), 5);
    DecimatedNoise sums;
    std::vector<std::pair<int64_t, int64_t>> kept;
    for (int64_t i = 0; i < c.points; ++i) {
      if (c.gap_every > 0 && i % c.gap_every == c.gap_every - 1 && i + 1 < c.points) continue;
      const int64_t k = i * c.m;
      const double t = static_cast<double>(k) * c.period + c.drift * static_cast<double>(k * k) +
                       1e9 * noise[static_cast<size_t>(i)] + (i > 0 ? c.first : 0);
      kept.emplace_back(k, std::llround(t));
      sums.Add(kept.back().first, kept.back().second);
    }
    const auto [k_last, t_last] = kept.back();
    std::vector<double> phase;  // as the batch table takes it
    for (const auto& [k, t] : kept) {
      const __int128 level = static_cast<__int128>(k_last) * t - static_cast<__int128>(k) * t_last;
      phase.push_back(static_cast<double>(level) / static_cast<double>(k_last) * 2.5e-8);
    }
    EXPECT_EQ(sums.Alpha(k_last, t_last, c.m, 0.01), IdentifyDecimatedNoise(phase, c.m, 0.01))
        << c.name;
    if (sums.Points() < kLag1MinPoints) continue;
    const std::array<double, 3> exact = sums.Correlations(k_last, t_last);
    const std::array<double, 3> plain = Lag1Correlations(phase);
    for (size_t d = 0; d < 3; ++d) EXPECT_NEAR(exact[d], plain[d], 1e-9) << c.name << " d=" << d;
  }
}

}  // namespace
}  // namespace analysis
