#include "analysis/proving.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "common/error.h"
#include "synthetic_train.h"

namespace analysis {
namespace {

using testing::OwnedTrain;

using testing::JitteredTrain;
using testing::PatternTrain;
using testing::TrainFromEdges;

constexpr double kTicksPerMs = 40000;

ProvingOptions Options(int runs, int passes = 1, double pause_s = 0,
                       std::optional<double> limit_pct = std::nullopt) {
  return {runs, passes, pause_s, limit_pct};
}

TEST(ProvingLimits, ReproduceThePublishedTableAndTheFormula) {
  // d2 and w(n) computed apart (scipy: quad of 1 - Phi^n - (1 - Phi)^n over the real line,
  // t.ppf(0.975, n - 1)); d2(2) is 2 / sqrt(pi). The published table rounds the formula.
  const struct {
    int runs;
    double d2;
    double formula_pct;
    std::optional<double> published_pct;
  } cases[] = {
      {2, 1.128379167096, 0.0033909233, std::nullopt},
      {3, 1.692568750643, 0.0183964665, 0.02},
      {4, 2.058750746008, 0.0349330451, 0.03},
      {5, 2.325928947281, 0.0505773556, 0.05},
      {6, 2.534412721223, 0.0652056599, 0.06},
      {7, 2.704356751214, 0.0789511467, std::nullopt},
      {10, 3.077505461670, 0.1161555117, 0.12},
      {15, 3.471826889882, 0.1692713083, 0.17},
      {20, 3.734950119597, 0.2154712587, 0.22},
      {25, 3.930629219507, 0.2571032097, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(ExpectedRangeOfNormals(c.runs), c.d2, 1e-9) << c.runs;
    EXPECT_NEAR(RepeatabilityLimitFormulaPct(c.runs), c.formula_pct, 1e-9) << c.runs;
    EXPECT_EQ(PublishedRepeatabilityLimitPct(c.runs), c.published_pct) << c.runs;
    EXPECT_NEAR(RepeatabilityLimitPct(c.runs), c.published_pct.value_or(c.formula_pct), 1e-9);
  }
}

// Passes whose second switch t0 + j (T + P) + T comes before the last pulse, from the closed form.
int64_t PassCount(double last, double period, double flight, double pause) {
  return static_cast<int64_t>(std::floor((last - period / 2 - flight) / (flight + pause))) + 1;
}

TEST(Proving, PerfectTrainProvesWithZeroSpread) {
  const struct {
    double period;  // ticks
    double flight_ms;
    ProvingOptions options;
  } cases[] = {
      {80000, 20, {}},
      {40000, 17.3, Options(3, 2, 0.005)},
      {4000, 123.4, Options(10)},
  };
  for (const auto& c : cases) {
    const OwnedTrain train =
        TrainFromEdges(20011, [&](int64_t k) { return static_cast<double>(k) * c.period; });
    const ProvingFigures f = Prove(train.View(), c.flight_ms / 1000, c.options);
    const int64_t passes =
        PassCount(20010 * c.period, c.period, c.flight_ms * kTicksPerMs, c.options.pause_s * 4e7);
    EXPECT_EQ(f.provings, passes / (c.options.runs * c.options.passes)) << c.flight_ms;
    EXPECT_EQ(f.provings_with_gaps, 0);
    EXPECT_NEAR(f.mean_pulses, c.flight_ms * kTicksPerMs / c.period, 1e-9);
    EXPECT_LT(f.sd_pct, 1e-12);
    EXPECT_LT(f.repeat_p95_pct, 1e-12);
    EXPECT_EQ(f.pass_share, 1.0);
    EXPECT_LT(f.edge_pp_max_pct, 1e-12);
  }
}

// White edge jitter of rms s: a pass's Tp = Nm tau0 + e_stop - e_start with Nm tau0 = Td when
// T is a whole number of periods, so Ni = Nm Td / Tp ~ Nm (1 - (e_stop - e_start) / Td) and its
// relative spread is sqrt(2) s / Td. A run of m passes with a pause has m independent pairs of
// edges: sqrt(2) s / (Td sqrt(m)). Without a pause a pass's stop pulse starts the next one, the
// edges in between cancel and the run spans (e_last - e_first) / (m Td): sqrt(2) s / (m Td).
// At 500 Hz, s = 500 ticks and T = 20 ms: sqrt(2) 500 / 800000 = 0.0884 %.
TEST(Proving, WhiteJitterGivesTheSpreadOfDoubleChronometry) {
  const struct {
    double flight_ms;
    int passes;
    double pause_ms;
    double expected_pct;
  } cases[] = {
      {20, 1, 0, 0.0884},
      {50, 1, 0, std::sqrt(2.0) * 500 / (50 * kTicksPerMs) * 100},
      {20, 4, 10, 0.0884 / 2},
      {20, 4, 0, 0.0884 / 4},
  };
  for (const auto& c : cases) {
    // About 3000 runs: the sample SD is then good to 1.3 % (1 / sqrt(2 (n - 1))).
    const auto pulses = static_cast<int64_t>(3000 * c.passes * (c.flight_ms + c.pause_ms) / 2) + 10;
    const OwnedTrain train = JitteredTrain(pulses, 80000, 500);
    const ProvingOptions options = Options(5, c.passes, c.pause_ms / 1000);
    const ProvingFigures f = Prove(train.View(), c.flight_ms / 1000, options);
    EXPECT_NEAR(f.sd_pct, c.expected_pct, 0.05 * c.expected_pct) << c.flight_ms << " " << c.passes;
  }
}

// A rotor of 10 blades at 1 kHz: one rotation is 10 ms. A flight of whole rotations starts and
// stops on the same blade, so every pass counts exactly; any other flight does not.
const std::vector<int64_t> kBlades = {400, -100, -300, 200, 0, -200, 100, 300, -400, 0};

TEST(Proving, PatternSpreadVanishesOnWholeRotations) {
  const OwnedTrain train = PatternTrain(60001, 40000, kBlades);
  const struct {
    double flight_ms;
    bool whole;
  } cases[] = {{30, true}, {100, true}, {35, false}, {104, false}};
  for (const auto& c : cases) {
    const ProvingFigures f = Prove(train.View(), c.flight_ms / 1000, {});
    if (c.whole)
      EXPECT_LT(f.sd_pct, 1e-12) << c.flight_ms;
    else
      EXPECT_GT(f.sd_pct, 1e-3) << c.flight_ms;
  }
}

TEST(Proving, EdgeDisplacementIsThePeakToPeakOfTheEdgesAboutTheirLine) {
  // Every 8th edge late by 2000 ticks at 1 kHz. Each pass's edges are pulses 1 .. n after its
  // first switch; the peak-to-peak about their least-squares line, taken apart with numpy's
  // polyfit over the 8 ways a window can start on the pattern: 2050.1388 ticks for 200 pulses
  // (every window starts alike), at most 2017.8529 for 333 (the windows take all 8 starts).
  const OwnedTrain train = TrainFromEdges(
      40000, [](int64_t k) { return static_cast<double>(k) * 40000 + (k % 8 == 0 ? 2000 : 0); });
  const struct {
    double flight_ms;
    double max_ticks;
  } cases[] = {{200, 2050.1387534680543}, {333, 2017.8529297612258}};
  for (const auto& c : cases) {
    const ProvingFigures f = Prove(train.View(), c.flight_ms / 1000, {});
    const double expected = c.max_ticks / (c.flight_ms * kTicksPerMs) * 100;
    EXPECT_NEAR(f.edge_pp_max_pct, expected, 1e-6 * expected) << c.flight_ms;
  }
}

TEST(Proving, ProvingsWithAGapAreCountedApart) {
  // 1 kHz, T = 10.5 ms, 5 runs of 1 pass. With a 3 ms pause pass j switches at 0.5 + 13.5 j
  // and 11 + 13.5 j ms: pulse 195 (195 ms) lies in pass 14 (proving 2), pulse 215 in the pause
  // after pass 15, pulses 596 and 603 in pass 44 (proving 8). Without a pause pulse 300 lies in
  // pass 28.
  const struct {
    std::vector<int64_t> missing;
    std::vector<double> extra_ms;
    double pause_ms;
    int64_t with_gaps;
  } cases[] = {
      {{195}, {}, 3, 1},   {{215}, {}, 3, 0},      {{596, 603}, {}, 3, 1}, {{}, {195.5}, 3, 1},
      {{}, {215.3}, 3, 0}, {{195}, {600.5}, 3, 2}, {{300}, {}, 0, 1},
  };
  const int64_t pulses = 2001;
  const OwnedTrain perfect =
      TrainFromEdges(pulses, [](int64_t k) { return static_cast<double>(k) * 40000; });
  for (const auto& c : cases) {
    std::vector<double> extra;
    for (double ms : c.extra_ms) extra.push_back(ms * kTicksPerMs);
    const OwnedTrain train = TrainFromEdges(
        pulses, [](int64_t k) { return static_cast<double>(k) * 40000; }, c.missing, extra);
    const ProvingOptions options = Options(5, 1, c.pause_ms / 1000);
    const ProvingFigures all = Prove(perfect.View(), 0.0105, options);
    const ProvingFigures f = Prove(train.View(), 0.0105, options);
    EXPECT_EQ(f.provings_with_gaps, c.with_gaps) << c.missing.size() << " " << c.extra_ms.size();
    EXPECT_EQ(f.provings + f.provings_with_gaps, all.provings);
  }
}

TEST(ProvingScan, DefaultFlightTimesEndWhereTwentyProvingsAreLeft) {
  const OwnedTrain train =
      TrainFromEdges(200001, [](int64_t k) { return static_cast<double>(k) * 4000; });
  for (const ProvingOptions& options : {ProvingOptions{}, Options(3, 2, 0.02)}) {
    const std::vector<double> flights = DefaultFlightTimes(train.View(), options);
    ASSERT_EQ(flights.size(), 30u);
    EXPECT_DOUBLE_EQ(flights.front(), 0.010);
    EXPECT_NEAR(flights[1] / flights[0], flights[29] / flights[28], 1e-9);
    EXPECT_EQ(Prove(train.View(), flights.back(), options).provings, 20);
    EXPECT_EQ(Prove(train.View(), flights.back() * 1.001, options).provings, 19);
  }
  const OwnedTrain short_train =
      TrainFromEdges(1000, [](int64_t k) { return static_cast<double>(k) * 4000; });
  EXPECT_TRUE(DefaultFlightTimes(short_train.View(), {}).empty());
}

TEST(ProvingScan, ShortestPassingFlightAndWhereWholeRotationsMislead) {
  // A strict limit passes only flights of whole rotations of the rotor; without the pattern
  // every flight passes.
  const OwnedTrain train = PatternTrain(60001, 40000, kBlades);
  const ProvingOptions options = Options(5, 1, 0, 0.001);
  const std::vector<double> flights = {0.040, 0.025, 0.035, 0.030};
  const ProvingScan scan = ScanProving(train.View(), flights, options);
  ASSERT_EQ(scan.rows.size(), 4u);
  EXPECT_EQ(scan.rows[0].flight_s, 0.025);
  EXPECT_EQ(scan.shortest_flight_s, 0.030);
  EXPECT_TRUE(scan.non_monotonic);
  EXPECT_EQ(scan.passing_from_s, 0.040);

  const PulsePattern pattern = ComputePulsePattern(train.View(), 10);
  const ProvingScan clean = ScanProvingWithoutPattern(train.View(), pattern, flights, options);
  EXPECT_EQ(clean.shortest_flight_s, 0.025);
  EXPECT_FALSE(clean.non_monotonic);
  EXPECT_EQ(clean.passing_from_s, 0.025);
  EXPECT_LT(clean.rows[2].sd_pct, 1e-12);
}

TEST(Proving, AFlightThatCanMissEveryPulseFailsItsProvings) {
  // 0.3 ms flights on a 1 kHz train: most windows hold no pulse, and Ni = 0 is not a 0 / 0.
  const OwnedTrain train =
      TrainFromEdges(1000, [](int64_t k) { return static_cast<double>(k) * 40000; });
  const ProvingFigures f = Prove(train.View(), 0.0003, {});
  EXPECT_GT(f.provings, 0);
  EXPECT_EQ(f.pass_share, 0.0);
  EXPECT_TRUE(std::isfinite(f.mean_pulses));
}

TEST(Proving, RejectsOptionsOutOfRange) {
  const OwnedTrain train =
      TrainFromEdges(100, [](int64_t k) { return static_cast<double>(k) * 4000; });
  const struct {
    double flight_s;
    ProvingOptions options;
  } cases[] = {
      {0, {}},
      {-1, {}},
      {0.01, Options(1)},
      {0.01, Options(5, 0)},
      {0.01, Options(5, 1, -1)},
      {0.01, Options(5, 1, 0, 0.0)},
  };
  for (const auto& c : cases)
    EXPECT_THROW(Prove(train.View(), c.flight_s, c.options), common::Error);
}

}  // namespace
}  // namespace analysis
