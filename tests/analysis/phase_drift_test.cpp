#include "analysis/phase_drift.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "analysis/stability.h"
#include "synthetic_train.h"

namespace analysis {
namespace {

using testing::OwnedTrain;

constexpr double kTick = 25e-9;

double Rms(const std::vector<double>& x) {
  double ss = 0;
  int64_t n = 0;
  for (double v : x)
    if (!std::isnan(v)) ss += v * v, ++n;
  return std::sqrt(ss / static_cast<double>(n));
}

TEST(PhaseDrift, RampingRateIsFittedAndTakenOut) {
  // A rate f(t) = f0 + r t: pulse k comes when f0 t + r t^2 / 2 = k, at
  // t_k = (sqrt(f0^2 + 2 r k) - f0) / r, where the rate is sqrt(f0^2 + 2 r k). The phase is then
  // nearly the parabola -r k^2 / (2 f0^3); about its least-squares line over 0 .. K a parabola
  // c k^2 leaves an rms of c K^2 / sqrt(180). The cubic term r^2 k^3 / (2 f0^5) is kept small
  // (it would move the fitted rate by 3/5 of its slope at the end of the record, 7.5e-10 here).
  const double f0 = 1000, r = 0.001;
  const int64_t last = 100000;
  const std::vector<int64_t> missing = {10, 5000, 5001, 77777};
  const OwnedTrain train = testing::TrainFromEdges(
      last + 1,
      [&](int64_t k) {
        return (std::sqrt(f0 * f0 + 2 * r * static_cast<double>(k)) - f0) / r * 4e7;
      },
      missing);
  const double t_last = (std::sqrt(f0 * f0 + 2 * r * static_cast<double>(last)) - f0) / r;
  const double mid_rate = std::sqrt(f0 * f0 + r * static_cast<double>(last));
  const double parabola_rms =
      r / (2 * f0 * f0 * f0) * std::pow(static_cast<double>(last), 2) / std::sqrt(180.0);
  const struct {
    DriftRemoval removal;
    double frequency_hz, drift_hz_per_s, rms_s, rms_tolerance_s;
  } cases[] = {
      {DriftRemoval::kNone, 0, 0, -1, 0},
      {DriftRemoval::kLinear, mid_rate, 0, parabola_rms, 0.01 * parabola_rms},
      {DriftRemoval::kQuadratic, mid_rate, r, 0, kTick},
  };
  for (const auto& c : cases) {
    const PhaseRecord p = DetrendedPhase(train.View(), c.removal);
    ASSERT_EQ(p.phase_s.size(), static_cast<size_t>(last + 1));
    EXPECT_EQ(p.missing, 4);
    EXPECT_TRUE(std::isnan(p.phase_s[5001]));
    EXPECT_NEAR(p.tau0_s, t_last / static_cast<double>(last), 1e-12);
    EXPECT_NEAR(p.fit.frequency_hz, c.frequency_hz, 1e-5);
    EXPECT_NEAR(p.fit.drift_hz_per_s, c.drift_hz_per_s, 1e-3 * r);
    if (c.removal == DriftRemoval::kNone) {
      EXPECT_EQ(p.fit.frequency_offset, 0);
      EXPECT_EQ(p.phase_s[0], 0);  // the line through the first and the last pulse
      EXPECT_NEAR(p.phase_s[last], 0, 1e-15);
      continue;
    }
    EXPECT_NEAR(p.fit.frequency_offset, mid_rate * t_last / static_cast<double>(last) - 1, 1e-8);
    EXPECT_NEAR(p.fit.drift_per_s, c.drift_hz_per_s / mid_rate, 1e-3 * r / mid_rate);
    EXPECT_NEAR(Rms(p.phase_s), c.rms_s, c.rms_tolerance_s);
  }
}

TEST(PhaseDrift, SinusoidalJitterGivesTheAllanDeviationOfSinusoidalFm) {
  // Edge jitter A sin(2 pi fm t) is sinusoidal FM of peak y0 = 2 pi fm A; its Allan deviation is
  // y0 sin^2(pi fm tau) / (pi fm tau), with nulls at tau = k / fm. 1 kHz pulses, fm = 20 Hz:
  // the nulls fall on m = 50, 100, 150.
  const double a = 2000 * kTick, fm = 20;
  const OwnedTrain train = testing::TrainFromEdges(100001, [&](int64_t k) {
    const double t = static_cast<double>(k) * 1e-3;
    return static_cast<double>(k) * 40000 + a / kTick * std::sin(2 * std::numbers::pi * fm * t);
  });
  const PhaseRecord p = DetrendedPhase(train.View(), DriftRemoval::kLinear);
  const std::vector<int64_t> factors = {5, 10, 25, 40, 50, 75, 100, 150};
  const double y0 = 2 * std::numbers::pi * fm * a;
  for (const StabilityRow& row : StabilityTable(p.phase_s, p.tau0_s, factors)) {
    if (row.deviation != Deviation::kOadev) continue;
    const double x = std::numbers::pi * fm * row.tau_s;
    const double expected = y0 * std::sin(x) * std::sin(x) / x;
    if (row.m % 50 == 0)
      EXPECT_LT(row.value, 1e-3 * y0) << row.m;
    else
      EXPECT_NEAR(row.value, expected, 0.01 * expected) << row.m;
  }
}

}  // namespace
}  // namespace analysis
