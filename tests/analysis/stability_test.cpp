#include "analysis/stability.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "analysis/pulse_train.h"

namespace analysis {
namespace {

// The NBS14 reference sets of W. J. Riley, "Handbook of Frequency Stability Analysis",
// NIST Special Publication 1065 (2008), section 12: the 9 frequency values of the small set,
// and the portable generator of the 1000-point set, n(i) = 16807 n(i-1) mod 2147483647 from
// n(0) = 1234567890, r(i) = n(i) / 2147483647.
const std::vector<double> kNbs10 = {892, 809, 823, 798, 671, 644, 883, 903, 677};

std::vector<double> Nbs1000() {
  std::vector<double> y;
  int64_t n = 1234567890;
  for (int i = 0; i < 1000; ++i) {
    y.push_back(static_cast<double>(n) / 2147483647.0);
    n = (16807 * n) % 2147483647;
  }
  return y;
}

using Key = std::pair<std::string, int64_t>;

std::map<Key, StabilityRow> ByKey(const std::vector<StabilityRow>& rows) {
  std::map<Key, StabilityRow> out;
  for (const StabilityRow& r : rows) out[{std::string(DeviationName(r.deviation)), r.m}] = r;
  return out;
}

std::string Printed(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
  return text;
}

TEST(Stability, Nbs14SetsReproduceThePublishedValues) {
  const struct {
    const char* deviation;
    int64_t m;
    // As printed in SP 1065, tables for the 10-point and 1000-point sets; HDEV of the 10-point
    // set at m = 2 (non-overlapping) from Riley, "The Calculation of Time Domain Frequency
    // Stability", table II.
    double published;
    int digits;
    bool thousand;
  } cases[] = {
      {"adev", 1, 91.22945, 7, false},      {"adev", 2, 115.8082, 7, false},
      {"oadev", 1, 91.22945, 7, false},     {"oadev", 2, 85.95287, 7, false},
      {"mdev", 1, 91.22945, 7, false},      {"mdev", 2, 74.78849, 7, false},
      {"tdev", 1, 52.67135, 7, false},      {"tdev", 2, 86.35831, 7, false},
      {"hdev", 1, 70.80607, 7, false},      {"hdev", 2, 116.7980, 7, false},
      {"ohdev", 2, 85.61487, 7, false},     {"adev", 1, 2.922319e-01, 7, true},
      {"adev", 10, 9.965736e-02, 7, true},  {"adev", 100, 3.897804e-02, 7, true},
      {"oadev", 10, 9.159953e-02, 7, true}, {"oadev", 100, 3.241343e-02, 7, true},
      {"mdev", 10, 6.172376e-02, 7, true},  {"mdev", 100, 2.170921e-02, 7, true},
      {"tdev", 1, 1.687202e-01, 7, true},   {"tdev", 10, 3.563623e-01, 7, true},
      {"tdev", 100, 1.253382e+00, 7, true}, {"hdev", 1, 2.943883e-01, 7, true},
      {"hdev", 10, 1.052754e-01, 7, true},  {"hdev", 100, 3.910861e-02, 7, true},
      {"ohdev", 10, 9.581083e-02, 7, true}, {"ohdev", 100, 3.237638e-02, 7, true},
  };
  const std::vector<int64_t> small_factors = {1, 2};
  const std::vector<int64_t> large_factors = {1, 10, 100};
  const auto small = ByKey(StabilityTable(PhaseFromFrequency(kNbs10, 1.0), 1.0, small_factors));
  const auto large = ByKey(StabilityTable(PhaseFromFrequency(Nbs1000(), 1.0), 1.0, large_factors));
  for (const auto& c : cases) {
    const auto& table = c.thousand ? large : small;
    const auto it = table.find({c.deviation, c.m});
    ASSERT_NE(it, table.end()) << c.deviation << " m=" << c.m;
    EXPECT_EQ(Printed(it->second.value, c.digits), Printed(c.published, c.digits))
        << c.deviation << " m=" << c.m;
  }
}

// Stable32 all-tau runs of the 1000-point set as 1001 phase points ("PHASE.DAT"), published
// with the AllanTools test suite (github.com/aewallin/allantools, tests/phase.dat/ and
// tests/phase_dat_mdev.txt): n, the identified alpha and the value to the five printed digits.
// Up to m = 71 (15 or more decimated points) the noise is white FM (alpha 0) through m = 68 and
// flicker PM (alpha 1) at 69 .. 71 for every deviation; beyond, with 14 points or fewer, that
// tool's B1 choices differ between its own deviations and are not pinned here.
TEST(Stability, Nbs14PhaseRunMatchesThePublishedNoiseTypes) {
  const struct {
    const char* deviation;
    int64_t m;
    int64_t n;
    int alpha;
    double published;
  } cases[] = {
      {"oadev", 2, 997, 0, 2.0102e-01},  {"oadev", 69, 863, 1, 3.5795e-02},
      {"oadev", 71, 859, 1, 3.5638e-02}, {"mdev", 2, 996, 0, 1.5821e-01},
      {"mdev", 70, 792, 1, 2.7081e-02},  {"hdev", 2, 498, 0, 2.0716e-01},
      {"hdev", 51, 17, 0, 4.1385e-02},   {"hdev", 71, 12, 1, 4.0572e-02},
  };
  std::vector<int64_t> factors;
  for (int64_t m = 1; m <= 71; ++m) factors.push_back(m);
  const std::vector<StabilityRow> rows =
      StabilityTable(PhaseFromFrequency(Nbs1000(), 1.0), 1.0, factors);
  const auto table = ByKey(rows);
  for (const auto& c : cases) {
    const StabilityRow& row = table.at({c.deviation, c.m});
    EXPECT_EQ(row.n, c.n) << c.deviation << " m=" << c.m;
    EXPECT_EQ(row.alpha, c.alpha) << c.deviation << " m=" << c.m;
    EXPECT_EQ(Printed(row.value, 5), Printed(c.published, 5)) << c.deviation << " m=" << c.m;
  }
  for (const StabilityRow& row : rows) {
    if (row.deviation == Deviation::kTieRms || row.deviation == Deviation::kMtie) continue;
    EXPECT_EQ(row.alpha, row.m >= 69 ? 1 : 0) << DeviationName(row.deviation) << " m=" << row.m;
  }
}

// The small set as pulses: intervals of 40000 ticks plus the frequency values. The phase in
// ticks is then the frequency set's phase less a line, so every row is the same up to the units:
// deviations divided by tau0 in ticks, the figures in seconds multiplied by one tick.
TEST(Stability, PulsePhaseAndFrequencyInputsGiveTheSameRows) {
  std::vector<int64_t> intervals;
  for (double y : Nbs1000()) intervals.push_back(40000 + std::llround(y * 1000));
  const PulseTrain train = BuildPulseTrain(intervals);
  ASSERT_EQ(train.missing_pulses + train.extra_pulses, 0);
  const std::vector<int64_t> factors = OctaveFactors(train.LastIndex());
  ASSERT_EQ(factors.back(), 128);

  // Frequencies about their mean: their phase is then the pulses' phase about the line
  // k * tau0, which the TIE and MTIE rows see whole.
  double mean = 0;
  for (int64_t d : intervals)
    mean += static_cast<double>(d) / static_cast<double>(intervals.size());
  std::vector<double> y;
  for (int64_t d : intervals) y.push_back(static_cast<double>(d) - mean);
  const std::vector<StabilityRow> from_frequency =
      StabilityTable(PhaseFromFrequency(y, 1.0), 1.0, factors);
  std::vector<double> phase_s;
  for (int64_t k = 0; k <= train.LastIndex(); ++k) phase_s.push_back(train.PhaseSeconds(k));
  const double tau0_s = train.Tau0Ticks() * 25e-9;
  const std::vector<StabilityRow> from_phase = StabilityTable(phase_s, tau0_s, factors);
  const std::vector<StabilityRow> from_pulses = StabilityTable(train, factors);

  ASSERT_EQ(from_pulses.size(), from_phase.size());
  ASSERT_EQ(from_pulses.size(), from_frequency.size());
  ASSERT_EQ(from_pulses.size(), 8 * factors.size());
  for (size_t i = 0; i < from_pulses.size(); ++i) {
    const StabilityRow& p = from_pulses[i];
    const bool in_seconds = p.deviation == Deviation::kTdev || p.deviation == Deviation::kTieRms ||
                            p.deviation == Deviation::kMtie;
    const double scale = in_seconds ? 25e-9 : 1 / train.Tau0Ticks();
    for (const StabilityRow* other : {&from_phase[i], &from_frequency[i]}) {
      const double to_pulse = other == &from_phase[i] ? 1.0 : scale;
      const std::string what = std::string(DeviationName(p.deviation)) +
                               " m=" + std::to_string(p.m) +
                               (to_pulse == 1.0 ? " phase" : " frequency");
      EXPECT_EQ(other->deviation, p.deviation) << what;
      EXPECT_EQ(other->n, p.n) << what;
      EXPECT_EQ(other->alpha, p.alpha) << what;
      EXPECT_NEAR(other->value * to_pulse, p.value, 1e-9 * p.value) << what;
      ASSERT_EQ(other->min.has_value(), p.min.has_value()) << what;
      if (p.min) {
        EXPECT_NEAR(*other->min * to_pulse, *p.min, 1e-9 * *p.min) << what;
        EXPECT_NEAR(*other->max * to_pulse, *p.max, 1e-9 * *p.max) << what;
        EXPECT_LT(*p.min, p.value) << what;
        EXPECT_GT(*p.max, p.value) << what;
      }
    }
  }
}

// Phase points 0 .. 20 of a train with a pulse missing at index 7: every term, window and sum
// that would need x(7) is left out (a TIE rms term needs only its two ends, an MDEV term the
// second differences present, at least half of its m), and n counts what is left.
TEST(Stability, TermsThatNeedAMissingPointAreLeftOut) {
  std::vector<double> x(21);
  for (size_t k = 0; k < x.size(); ++k) x[k] = 1e-9 * static_cast<double>((k * 7919) % 13);
  std::vector<double> holed = x;
  holed[7] = std::nan("");
  const std::vector<int64_t> factors = {1, 3, 6};
  const auto full = ByKey(StabilityTable(x, 1.0, factors));
  const auto gap = ByKey(StabilityTable(holed, 1.0, factors));
  const struct {
    const char* deviation;
    int64_t m;
    int64_t n_full;
    int64_t n_gap;
  } cases[] = {
      // ADEV m=3: i = 0, 3 .. 12; x(7) is in none, 5 terms.
      {"adev", 3, 5, 5},
      // OADEV m=3: i = 0 .. 14; i = 1, 4, 7 touch x(7).
      {"oadev", 3, 15, 12},
      // MDEV m=3: j = 0 .. 12, each the second differences j .. j+2; those at 1, 4 and 7 need
      // x(7), so j = 0 .. 7 keep two of three.
      {"mdev", 3, 13, 13},
      // MDEV m=1 is OADEV m=1: i = 0 .. 18, and i = 5 .. 7 need x(7).
      {"mdev", 1, 19, 16},
      // HDEV m=1: i = 0 .. 17 with x(i) .. x(i+3): i = 4 .. 7 need x(7).
      {"hdev", 1, 18, 14},
      // MDEV m=6: j = 0 .. 3, each the second differences j .. j+5; those at 1 and 7 need x(7),
      // so each keeps five of six.
      {"mdev", 6, 4, 4},
      {"ohdev", 1, 18, 14},
      // TIE rms m=6: steps x(i+6) - x(i), i = 0 .. 14: i = 1 and 7 end at x(7).
      {"tierms", 6, 15, 13},
      // MTIE windows m=6: i = 0 .. 14 spanning x(i) .. x(i+6): i = 1 .. 7 hold x(7).
      {"mtie", 6, 15, 8},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(full.at({c.deviation, c.m}).n, c.n_full) << c.deviation << " m=" << c.m;
    const auto it = gap.find({c.deviation, c.m});
    if (c.n_gap == 0) {
      EXPECT_EQ(it, gap.end()) << c.deviation << " m=" << c.m << ": no row without terms";
    } else {
      ASSERT_NE(it, gap.end()) << c.deviation << " m=" << c.m;
      EXPECT_EQ(it->second.n, c.n_gap) << c.deviation << " m=" << c.m;
    }
  }
  // MTIE of windows without the hole: max - min over each x(i) .. x(i+6) with i >= 8.
  double widest = 0;
  for (size_t i = 8; i + 6 < x.size(); ++i) {
    double lo = x[i], hi = x[i];
    for (size_t k = i; k <= i + 6; ++k) lo = std::min(lo, x[k]), hi = std::max(hi, x[k]);
    widest = std::max(widest, hi - lo);
  }
  for (size_t i = 0; i + 6 < 7; ++i) {
    double lo = x[i], hi = x[i];
    for (size_t k = i; k <= i + 6; ++k) lo = std::min(lo, x[k]), hi = std::max(hi, x[k]);
    widest = std::max(widest, hi - lo);
  }
  EXPECT_DOUBLE_EQ(gap.at({"mtie", 6}).value, widest);
}

// 1 kHz pulses with up to 3 ticks of jitter and one pulse in 500 missing. TIE rms takes every
// step x(i + m) - x(i) whose two ends are present, at every factor OADEV reaches; the reference
// is that sum taken directly over the phase in ticks. Every row of the train (walked over the
// pulses present) equals the row of the same phase with NaN at the missing pulses (walked over
// every index).
TEST(Stability, TieRmsTakesEveryStepWhoseEndsArePresent) {
  constexpr int64_t kIndices = 20'001;
  std::vector<int64_t> stamps;
  uint64_t state = 99;
  for (int64_t k = 0; k < kIndices; ++k) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const int64_t jitter = static_cast<int64_t>((state >> 33) % 7) - 3;
    if (k % 500 != 250) stamps.push_back(40'000 * k + jitter);
  }
  std::vector<int64_t> intervals;
  for (size_t i = 1; i < stamps.size(); ++i) intervals.push_back(stamps[i] - stamps[i - 1]);
  const PulseTrain train = BuildPulseTrain(intervals);
  ASSERT_EQ(train.missing_pulses, 40);
  const int64_t k_last = train.LastIndex();
  std::vector<double> x(static_cast<size_t>(k_last) + 1, std::nan(""));
  std::vector<double> phase_s(x.size(), std::nan(""));
  const long double tau0 = static_cast<long double>(train.LastStamp()) / k_last;
  for (size_t i = 0; i < train.Pulses(); ++i) {
    const auto k = static_cast<size_t>(train.index[i]);
    x[k] = static_cast<double>(static_cast<long double>(train.stamp[i]) - tau0 * train.index[i]);
    phase_s[k] = train.PhaseSeconds(i);
  }
  const std::vector<int64_t> factors = OctaveFactors(k_last);
  const std::vector<StabilityRow> rows = StabilityTable(train, factors);
  const auto by_key = ByKey(rows);
  for (int64_t m : factors) {
    double sum = 0;
    int64_t n = 0;
    for (int64_t i = 0; i + m <= k_last; ++i) {
      const double a = x[static_cast<size_t>(i)], b = x[static_cast<size_t>(i + m)];
      if (std::isnan(a) || std::isnan(b)) continue;
      sum += (b - a) * (b - a);
      ++n;
    }
    ASSERT_TRUE(by_key.count({"oadev", m})) << m;
    const StabilityRow& tie = by_key.at({"tierms", m});
    EXPECT_EQ(tie.n, n) << m;
    EXPECT_NEAR(tie.value, std::sqrt(sum / static_cast<double>(n)) * 25e-9, tie.value * 1e-9) << m;
  }
  const std::vector<StabilityRow> dense =
      StabilityTable(phase_s, static_cast<double>(tau0) * 25e-9, factors);
  ASSERT_EQ(dense.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::string what =
        std::string(DeviationName(rows[r].deviation)) + " m=" + std::to_string(rows[r].m);
    EXPECT_EQ(dense[r].deviation, rows[r].deviation) << what;
    EXPECT_EQ(dense[r].n, rows[r].n) << what;
    EXPECT_EQ(dense[r].alpha, rows[r].alpha) << what;
    EXPECT_NEAR(dense[r].value, rows[r].value, rows[r].value * 1e-9) << what;
  }
}

// A phase that only rises (then only falls) fills the extreme queues to the whole window.
TEST(Stability, MtieOfAMonotonicPhaseIsTheRiseOverTheWindow) {
  std::vector<double> x;
  for (int k = 0; k < 40; ++k) x.push_back(1e-9 * (k < 20 ? k : 40 - k));
  const std::vector<int64_t> factors = {1, 5, 19};
  const auto rows = ByKey(StabilityTable(x, 1.0, factors));
  for (int64_t m : factors) {
    EXPECT_NEAR(rows.at({"mtie", m}).value, 1e-9 * static_cast<double>(m), 1e-18) << m;
    EXPECT_EQ(rows.at({"mtie", m}).n, 40 - m) << m;
  }
}

// Intervals of 6e15 then 8.4e15 ticks, one period of 7.2e15 each: the phase falls by 1.2e15
// ticks per pulse, then rises, and K x(k) reaches 6e18, beyond 63 bits, so MTIE takes its
// 128-bit path.
TEST(Stability, MtieAndTieBeyond64BitLevelsStayExact) {
  std::vector<int64_t> intervals(100, 6'000'000'000'000'000);
  std::fill(intervals.begin() + 50, intervals.end(), 8'400'000'000'000'000);
  const PulseTrain train = BuildPulseTrain(intervals);
  ASSERT_EQ(train.LastIndex(), 100);
  const std::vector<int64_t> factors = {1, 10, 50};
  const auto rows = ByKey(StabilityTable(train, factors));
  for (int64_t m : factors) {
    const double expected = static_cast<double>(m) * 1.2e15 * 25e-9;
    EXPECT_NEAR(rows.at({"mtie", m}).value, expected, 1e-12 * expected) << m;
  }
  // At m = 50 the steps are (2i - 50) 1.2e15 ticks for i = 0 .. 50: a mean square of
  // 8 (1^2 + .. + 25^2) / 51 = 8 * 5525 / 51.
  const double tie = std::sqrt(8.0 * 5525 / 51) * 1.2e15 * 25e-9;
  EXPECT_NEAR(rows.at({"tierms", 50}).value, tie, 1e-12 * tie);
}

TEST(Stability, FactorListsStopAtAQuarterOfTheRun) {
  EXPECT_EQ(OctaveFactors(999), (std::vector<int64_t>{1, 2, 4, 8, 16, 32, 64, 128}));
  EXPECT_EQ(OctaveFactors(8), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(OctaveFactors(3), (std::vector<int64_t>{}));
  EXPECT_EQ(AllFactors(12), (std::vector<int64_t>{1, 2, 3}));
}

// 10^7 intervals of about 2e9 ticks: stamps reach 2e16, beyond the 53 bits of a double. The
// same jitter on 1000-tick intervals must give the same phase figures (and the same
// deviations times tau0), digit for digit up to the last rounding. Only the large train goes
// through BuildPulseTrain; the reference is the same train less the line k * (2e9 - 1000),
// exact in integers, which saves a second pass over 10^7 intervals.
TEST(Stability, LongRunWithLargeOffsetLosesNoDigits) {
  constexpr int64_t kCount = 10'000'000;
  constexpr int64_t kOffset = 2'000'000'000 - 1000;
  std::vector<int64_t> large(kCount);
  int64_t total = 0;
  uint64_t state = 12345;
  for (int64_t i = 0; i < kCount; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const int64_t jitter = static_cast<int64_t>((state >> 33) % 11) - 5;
    large[static_cast<size_t>(i)] = 2'000'000'000 + jitter;
    total += large[static_cast<size_t>(i)];
  }
  const PulseTrain b = BuildPulseTrain(std::move(large));
  ASSERT_EQ(b.LastIndex(), kCount);
  ASSERT_EQ(b.missing_pulses + b.extra_pulses, 0);
  ASSERT_EQ(b.LastStamp(), total);
  PulseTrain a = b;
  for (size_t i = 0; i < a.Pulses(); ++i) a.stamp[i] -= a.index[i] * kOffset;
  const std::vector<int64_t> factors = {1, 1 << 20};
  const std::vector<StabilityRow> ra = StabilityTable(a, factors);
  const std::vector<StabilityRow> rb = StabilityTable(b, factors);
  ASSERT_EQ(ra.size(), rb.size());
  ASSERT_EQ(ra.size(), 8 * factors.size());
  for (size_t i = 0; i < ra.size(); ++i) {
    const bool in_seconds = ra[i].deviation == Deviation::kTdev ||
                            ra[i].deviation == Deviation::kTieRms ||
                            ra[i].deviation == Deviation::kMtie;
    const double va = in_seconds ? ra[i].value : ra[i].value * a.Tau0Ticks();
    const double vb = in_seconds ? rb[i].value : rb[i].value * b.Tau0Ticks();
    EXPECT_NEAR(vb, va, 1e-12 * va) << DeviationName(ra[i].deviation) << " m=" << ra[i].m;
    EXPECT_EQ(rb[i].n, ra[i].n);
  }
}

}  // namespace
}  // namespace analysis
