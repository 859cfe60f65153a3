#include "analysis/run_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/pulse_train.h"
#include "analysis/stability.h"
#include "analysis/timing_input.h"
#include "train_shapes.h"

namespace analysis {
namespace {

// A stream log's words: a first word before the run, then pulse intervals near 40000 ticks
// with white jitter, missing pulses (two or three periods in one word), extra pulses (a period
// split in two) and the 0 that three equal words in a row leave in the log.
struct RunShape {
  const char* name;
  int intervals;
  double missing, extra, zero;  // chance per word
  uint32_t seed;
  double wander = 0;   // ticks a word of a random walk of the period: other noise types at long tau
  double dropout = 0;  // chance per word of 20 to 400 missing pulses in one word
};

std::vector<int64_t> Words(const RunShape& shape) {
  std::mt19937_64 rng(shape.seed);
  std::normal_distribution<double> jitter(0, 6);
  std::uniform_real_distribution<double> chance(0, 1);
  std::vector<int64_t> words{987654321};
  std::normal_distribution<double> step(0, shape.wander);
  double walk = 0;
  const auto period = [&] {
    walk += shape.wander > 0 ? step(rng) : 0;
    return 40000 + static_cast<int64_t>(std::lround(jitter(rng) + walk));
  };
  std::uniform_int_distribution<int> dropped(20, 400);
  while (static_cast<int>(words.size()) <= shape.intervals) {
    const double c = chance(rng);
    if (shape.dropout > 0 && chance(rng) < shape.dropout) {
      int64_t d = period();
      for (int n = dropped(rng); n >= 0; --n) d += period();
      words.push_back(d);
    } else if (c < shape.missing) {
      words.push_back(period() + period() + (chance(rng) < 0.5 ? period() : 0));
    } else if (c < shape.missing + shape.extra) {
      const int64_t d = period();
      const int64_t cut = static_cast<int64_t>(static_cast<double>(d) * chance(rng));
      words.push_back(cut);
      words.push_back(d - cut);
    } else if (c < shape.missing + shape.extra + shape.zero) {
      words.push_back(0);
    } else {
      words.push_back(period());
    }
  }
  words.resize(static_cast<size_t>(shape.intervals) + 1);
  return words;
}

std::vector<StabilityRow> BatchRows(const PulseTrain& train, int deepest_octave) {
  std::vector<int64_t> factors = OctaveFactors(train.LastIndex());
  std::erase_if(factors, [&](int64_t m) { return m > (int64_t{1} << deepest_octave); });
  std::vector<StabilityRow> rows;
  for (const StabilityRow& row : StabilityTable(train, factors)) {
    if (std::ranges::find(kRunDeviations, row.deviation) != std::end(kRunDeviations)) {
      rows.push_back(row);
    }
  }
  return rows;
}

// The rows of factors taken on every point.
std::vector<StabilityRow> Shallow(std::vector<StabilityRow> rows, int deepest_octave) {
  std::erase_if(rows, [&](const StabilityRow& r) { return r.m > (int64_t{1} << deepest_octave); });
  return rows;
}

void ExpectClose(double expected, double actual, double relative, const std::string& what) {
  EXPECT_NEAR(expected, actual, std::abs(expected) * relative + 1e-300) << what;
}

// The train laid out on its grid, kNone where a pulse is missing: the reference sums below walk
// the index space as the definitions do.
constexpr int64_t kNone = INT64_MIN;
std::vector<int64_t> Dense(const PulseTrain& train) {
  std::vector<int64_t> x(static_cast<size_t>(train.LastIndex()) + 1, kNone);
  for (size_t i = 0; i < train.Pulses(); ++i)
    x[static_cast<size_t>(train.index[i])] = train.stamp[i];
  return x;
}

// MTIE is taken against the mean period of a prefix of the run, from the one the nominal came
// from on: it may differ from the batch's by m times the largest change of that mean (s).
double Tau0Drift(const std::vector<int64_t>& intervals, const PulseTrain& train) {
  const PulseTrain first = BuildPulseTrain(std::vector<int64_t>(
      intervals.begin(),
      intervals.begin() + std::min<ptrdiff_t>(std::ssize(intervals), kNominalIntervals)));
  double tau0_drift = 0;
  const int64_t from = first.Empty() ? 1 : std::max<int64_t>(first.LastIndex(), 1);
  for (size_t i = 0; i < train.Pulses(); ++i) {
    const int64_t k = train.index[i];
    if (k < from) continue;
    const double prefix_tau0 = static_cast<double>(train.stamp[i]) / static_cast<double>(k);
    tau0_drift = std::max(tau0_drift, std::abs(prefix_tau0 - train.Tau0Ticks()) * 2.5e-8);
  }
  return tau0_drift;
}

// Every prefix checked is a log as it stood when a summary was taken during the run.
TEST(RunStatistics, EqualsTheBatchTableOnEveryPrefixOfRandomRuns) {
  const RunShape shapes[] = {
      {"short clean", 300, 0, 0, 0, 1},
      {"short with everything", 700, 0.02, 0.02, 0.01, 2},
      {"nominal fixed at the last word", 1000, 0.01, 0.01, 0.01, 3},
      {"long with gaps", 20000, 0.01, 0.005, 0.002, 4},
      {"long, many extra and zero words", 9000, 0.002, 0.05, 0.03, 5},
      {"wandering period with gaps", 20000, 0.005, 0.002, 0, 6, 0.4},
      {"dropouts of 20 to 400 pulses", 20000, 0.003, 0.002, 0, 7, 0.4, 0.002},
  };
  // A cap of 4 holds only the 16 latest stamps, so the long runs wrap them many times over.
  for (int deepest : {kDeepestOctave, 2}) {
    for (const RunShape& shape : shapes) {
      const std::vector<int64_t> words = Words(shape);
      RunStatistics stats(deepest);
      size_t fed = 0;
      // One prefix ends on a short word, still waiting for the word it merges into.
      const auto late_short =
          std::find_if(words.begin() + 5, words.end(), [](int64_t w) { return w < 20000; });
      std::vector<size_t> stops{5, words.size() / 3, words.size()};
      if (late_short != words.end())
        stops.push_back(static_cast<size_t>(late_short - words.begin()) + 1);
      std::ranges::sort(stops);
      for (size_t stop : stops) {
        for (; fed < stop; ++fed) stats.AddWord(words[fed]);
        stats.SetLostWords(static_cast<int64_t>(fed) / 7);
        const std::string where = std::string(shape.name) + " at word " + std::to_string(stop) +
                                  ", factors to 2^" + std::to_string(deepest);
        const RunSummary s = stats.Summary();
        const RunSummary final = stats.FinalSummary();

        // The batch side reads the log as `k390tool stability --stream` does.
        std::string log;
        for (size_t w = 0; w < stop; ++w) log += std::to_string(words[w]) + "\r\n";
        const std::vector<int64_t> intervals = StreamLogIntervals(log);
        ASSERT_EQ(std::ssize(intervals), static_cast<ptrdiff_t>(stop) - 1) << where;
        const PulseTrain train = BuildPulseTrain(intervals);
        EXPECT_EQ(s.words, static_cast<int64_t>(stop)) << where;
        EXPECT_EQ(s.lost_words, static_cast<int64_t>(stop) / 7) << where;
        EXPECT_EQ(s.extra_pulses, train.extra_pulses) << where;
        EXPECT_EQ(s.missing_pulses, train.missing_pulses) << where;

        const auto low = std::ranges::min_element(intervals);  // the first of equals, as logged
        const auto high = std::ranges::max_element(intervals);
        EXPECT_EQ(s.min_interval, *low) << where;
        EXPECT_EQ(s.min_interval_word, low - intervals.begin() + 2) << where;
        EXPECT_EQ(s.max_interval, *high) << where;
        EXPECT_EQ(s.max_interval_word, high - intervals.begin() + 2) << where;
        double sum = 0, sum2 = 0;
        for (int64_t d : intervals) sum += static_cast<double>(d);
        const double mean = sum / static_cast<double>(intervals.size());
        for (int64_t d : intervals)
          sum2 += (static_cast<double>(d) - mean) * (static_cast<double>(d) - mean);
        ExpectClose(mean, s.mean_interval, 1e-12, where);
        ExpectClose(std::sqrt(sum2 / static_cast<double>(intervals.size())), s.std_interval, 1e-9,
                    where);
        ExpectClose(sum * 2.5e-8, s.instrument_seconds, 1e-12, where);
        ExpectClose(static_cast<double>(stop) / (sum * 2.5e-8), s.mean_rate, 1e-12, where);
        ExpectClose((*high - *low) / mean * 100, s.pp_pct, 1e-12, where);

        const std::vector<StabilityRow> batch = BatchRows(train, deepest);
        const double tau0_drift = Tau0Drift(intervals, train);
        // The stop's summary takes MTIE again against the final tau0 while the run is held.
        const bool held = train.LastIndex() < (int64_t{4} << deepest);
        for (const RunSummary* summary : {&s, &final}) {
          const std::vector<StabilityRow> shallow = Shallow(summary->stability, deepest);
          ASSERT_EQ(batch.size(), shallow.size()) << where;
          const bool exact_mtie = summary == &final && held;
          for (size_t r = 0; r < batch.size(); ++r) {
            const StabilityRow& want = batch[r];
            const StabilityRow& got = shallow[r];
            const std::string row = where + (exact_mtie ? " final " : " ") +
                                    std::string(DeviationName(want.deviation)) +
                                    " m=" + std::to_string(want.m);
            ASSERT_EQ(want.deviation, got.deviation) << row;
            ASSERT_EQ(want.m, got.m) << row;
            EXPECT_EQ(want.n, got.n) << row;
            ExpectClose(want.tau_s, got.tau_s, 1e-15, row);
            if (want.deviation == Deviation::kMtie && stop > kNominalIntervals && !exact_mtie) {
              EXPECT_NEAR(want.value, got.value,
                          2 * static_cast<double>(want.m) * tau0_drift + want.value * 1e-12)
                  << row;
            } else {
              ExpectClose(want.value, got.value, 1e-12, row);
            }
            EXPECT_EQ(want.alpha, got.alpha) << row;
            ASSERT_EQ(want.min.has_value(), got.min.has_value()) << row;
            if (want.min) {
              ExpectClose(*want.min, *got.min, 1e-12, row);
              ExpectClose(*want.max, *got.max, 1e-12, row);
            }
          }
        }
      }
    }
  }
}

// The pulses of trains built from exact edge times, as k390tool reads them from a log: the stream
// indexes them as the batch rule does, over gaps of any length (the factors to 2^4 on every
// point, so that each long gap is counted at once past a few points).
TEST(RunStatistics, IndexesAsTheBatchRuleAtEveryRateAndOverLongGaps) {
  constexpr int kDeepest = 4;
  const Shape shapes[] = {
      // An exact 20-tick period: intervals of 10 and 30 ticks, at the rounding bounds, are
      // many; a period that moved between two neighbouring decisions once sorted them two ways.
      {"2 MHz, 2 ticks of jitter", 20, 2, 1'000'000, {}, {}},
      {"3 MHz, gaps of 1 to 1000",
       40e6 / 3e6,
       0.3,
       100'000,
       {{5, 100}, {20'000, 1}, {40'000, 10}, {60'000, 100}, {80'000, 1000}},
       {}},
      {"4.7 MHz, extra pulses",
       40e6 / 4.7e6,
       0.3,
       100'000,
       {},
       {{5000, 0.2}, {20'000, 0.8}, {30'000, 0.15}}},
      {"30 kHz, a one-second dropout", 40e6 / 3e4, 5, 100'000, {{60'000, 30'000}}, {}},
      {"1 MHz, a gap of 10^6", 40, 1, 1'400'000, {{300'000, 1'000'000}}, {}},
      {"1 MHz, ending in a gap of 1000", 40, 1, 100'000, {{98'999, 1000}}, {}},
  };
  for (const Shape& shape : shapes) {
    const Truth truth = Build(shape, 5);
    RunStatistics stats(kDeepest);
    stats.AddWord(123);
    for (int64_t d : truth.intervals) stats.AddWord(d);
    const RunSummary s = stats.Summary();
    const PulseTrain train = BuildPulseTrain(truth.intervals);
    EXPECT_EQ(s.missing_pulses, truth.missing) << shape.name;
    EXPECT_EQ(s.extra_pulses, truth.extra) << shape.name;
    EXPECT_EQ(train.missing_pulses, truth.missing) << shape.name;
    EXPECT_EQ(s.ambiguous, "") << shape.name;
    const std::vector<StabilityRow> batch = BatchRows(train, kDeepest);
    const std::vector<StabilityRow> shallow = Shallow(s.stability, kDeepest);
    ASSERT_EQ(batch.size(), shallow.size()) << shape.name;
    const double tau0_drift = Tau0Drift(truth.intervals, train);
    for (size_t r = 0; r < batch.size(); ++r) {
      const std::string row = std::string(shape.name) + " " +
                              std::string(DeviationName(batch[r].deviation)) +
                              " m=" + std::to_string(batch[r].m);
      EXPECT_EQ(batch[r].n, shallow[r].n) << row;
      const double within = batch[r].deviation == Deviation::kMtie
                                ? 2 * static_cast<double>(batch[r].m) * tau0_drift
                                : 1e-12 * batch[r].value;
      EXPECT_NEAR(batch[r].value, shallow[r].value, within + 1e-300) << row;
    }
  }
}

// A gap among the first intervals, held back and indexed together, is judged by the period of
// those alone: over 2^20 periods the stream says the count is not fixed, while the batch rule,
// with the period of the whole log, counts it exactly and soundly.
TEST(RunStatistics, AGapBeforeThePeriodIsKnownIsNamedInTheSummary) {
  const Shape shape{"1 MHz, a gap over 2^20 at the start", 40, 1, 1'500'000,
                    {{500, (int64_t{1} << 20) + 3}},       {}};
  const Truth truth = Build(shape, 6);
  RunStatistics stats(4);
  stats.AddWord(0);
  for (int64_t d : truth.intervals) stats.AddWord(d);
  const RunSummary summary = stats.Summary();
  const std::string& why = summary.ambiguous;
  EXPECT_NE(why.find("1 gap of up to 1048580 periods"), std::string::npos) << why;
  const PulseTrain train = BuildPulseTrain(truth.intervals);
  EXPECT_EQ(train.missing_pulses, truth.missing);
  EXPECT_EQ(train.ambiguous, "");
}

// A deep factor m is taken on every s-th index (s = m / 4 with factors to 2^2 on every point):
// the batch formulas summed over the starts 0, s, 2s ... of the blocks complete so far. An MDEV
// term there is the mean of s times the second differences of the mean phases of the pulses in
// its blocks of s points (against the final tau0), over the four whose blocks hold at least half
// of theirs, where at least two do: the batch's own term where no pulse is missing.
TEST(RunStatistics, DeepFactorsSumTheBatchTermsAtEveryStrideOfDecimatedStarts) {
  constexpr int kDeepest = 2;
  for (const RunShape& shape : {RunShape{"clean", 30000, 0, 0, 0, 11},
                                RunShape{"with gaps", 30000, 0.004, 0.003, 0.002, 12, 0.4},
                                RunShape{"with dropouts", 30000, 0.001, 0, 0, 13, 0}}) {
    std::vector<int64_t> words = Words(shape);
    if (shape.seed == 13) {  // 300 and 5000 pulses left out: counted at once past a few points
      words[10'000] = 40'000 * 301 + 5;
      words[20'000] = 40'000 * 5001 - 7;
    }
    RunStatistics stats(kDeepest);
    for (int64_t w : words) stats.AddWord(w);
    const std::vector<int64_t> intervals(words.begin() + 1, words.end());
    const PulseTrain train = BuildPulseTrain(intervals);
    const std::vector<StabilityRow> batch = BatchRows(train, 62);
    const double tau0_drift = Tau0Drift(intervals, train);
    const int64_t last = train.LastIndex();
    const double tau0 = train.Tau0Ticks();
    const std::vector<int64_t> dense = Dense(train);
    const auto x = [&](int64_t k) { return dense[static_cast<size_t>(k)]; };
    const auto has = [&](int64_t k) { return x(k) != kNone; };
    // Phase about 40000 ticks a period is exact; only the rest of tau0 is not.
    const long double rest = static_cast<long double>(train.LastStamp() - 40000 * last) / last;
    const auto mean = [&](int64_t s, int64_t b) -> std::optional<long double> {
      long double sum = 0;
      int64_t count = 0;
      for (int64_t k = b * s; k < (b + 1) * s; ++k) {
        if (!has(k)) continue;
        sum += static_cast<long double>(x(k) - 40000 * k) - rest * static_cast<long double>(k);
        ++count;
      }
      if (2 * count < s) return std::nullopt;
      return sum / static_cast<long double>(count);
    };
    int deep = 0;
    for (const StabilityRow& got : stats.Summary().stability) {
      if (got.m <= 4) continue;
      const std::string row = std::string(shape.name) + " " +
                              std::string(DeviationName(got.deviation)) +
                              " m=" + std::to_string(got.m);
      const int64_t m = got.m, s = m / 4, blocks = (last + 1) / s;
      double sum = 0;
      int64_t n = 0;
      for (int64_t i = 0; i / s < blocks; i += s) {
        const auto second = [&](int64_t j) {
          return static_cast<double>((x(j + 2 * m) - x(j + m)) - (x(j + m) - x(j)));
        };
        switch (got.deviation) {
          case Deviation::kOadev:
            if ((i + 2 * m) / s < blocks && has(i) && has(i + m) && has(i + 2 * m)) {
              sum += second(i) * second(i);
              ++n;
            }
            break;
          case Deviation::kMdev:
          case Deviation::kTdev: {
            if ((i + 3 * m) / s > blocks) break;
            long double window = 0;
            int present = 0;
            for (int64_t b = i / s; b < i / s + 4; ++b) {
              const auto a = mean(s, b), c = mean(s, b + 4), e = mean(s, b + 8);
              if (!a || !c || !e) continue;
              window += static_cast<long double>(s) * ((*e - *c) - (*c - *a));
              ++present;
            }
            if (2 * present < 4) break;
            const long double term = window * 4 / present;
            sum += static_cast<double>(term * term / static_cast<long double>(m * m));
            ++n;
            break;
          }
          case Deviation::kTieRms:
            if ((i + m) / s < blocks && has(i) && has(i + m)) {
              const double a = static_cast<double>(x(i + m) - x(i)) - static_cast<double>(m) * tau0;
              sum += a * a;
              ++n;
            }
            break;
          default:
            break;
        }
      }
      const double tau_ticks = static_cast<double>(m) * tau0;
      double want = 0;
      if (got.deviation == Deviation::kOadev || got.deviation == Deviation::kMdev) {
        want = std::sqrt(sum / (2.0 * static_cast<double>(n))) / tau_ticks;
      } else if (got.deviation == Deviation::kTdev) {
        want = std::sqrt(sum / (2.0 * static_cast<double>(n))) / std::sqrt(3.0) * 2.5e-8;
      } else if (got.deviation == Deviation::kTieRms) {
        want = std::sqrt(sum / static_cast<double>(n)) * 2.5e-8;
      }
      const auto full = std::ranges::find_if(
          batch, [&](const StabilityRow& b) { return b.deviation == got.deviation && b.m == m; });
      // The noise comes from the pulses at multiples of m, all of them, as the batch's does
      // (where 30 points make the lag-1 rule; below, B1 takes the estimated MDEV / OADEV).
      if (full != batch.end() && 30 * m <= last) {
        EXPECT_EQ(full->alpha, got.alpha) << row;
      }
      if (got.deviation == Deviation::kMtie) {
        // Extremes of the kept points only: never above those of every point.
        ASSERT_NE(full, batch.end()) << row;
        EXPECT_LE(got.value, full->value + 2 * static_cast<double>(m) * tau0_drift) << row;
        EXPECT_GT(got.value, 0) << row;
      } else {
        EXPECT_EQ(got.n, n) << row;
        ExpectClose(want, got.value, 1e-9, row);
      }
      ++deep;
    }
    const auto batch_deep =
        std::ranges::count_if(batch, [](const StabilityRow& b) { return b.m > 4; });
    // Where gaps fall, a deep factor may lack windows the batch has.
    if (shape.missing == 0 && shape.seed != 13) {
      EXPECT_EQ(deep, batch_deep) << shape.name;
    } else {
      EXPECT_GT(deep, batch_deep / 2) << shape.name;
    }
  }
}

// tests/data/mdev_gaps.dat, a log of 20 kHz pulses with one in 300 missing and dropouts of 40
// and 700, and its MDEV and TDEV at every octave factor in tests/data/mdev_gaps_reference.csv,
// computed on their own by tests/data/mdev_gaps_reference.py (numpy over the phase with NaN at
// the missing pulses). The pulse train, its phase with NaN and the run statistics of the log
// all give them, at every factor OADEV reaches.
TEST(RunStatistics, ModifiedDeviationsOverMissingPulsesMatchAnIndependentComputation) {
  const std::string data = std::string(K390_TEST_DATA) + "/mdev_gaps";
  std::stringstream log;
  log << std::ifstream(data + ".dat").rdbuf();
  const std::vector<int64_t> intervals = StreamLogIntervals(log.str());
  const PulseTrain train = BuildPulseTrain(intervals);
  // One in 300 (40 of them, two inside the long dropout) and dropouts of 40 and 700.
  ASSERT_EQ(train.missing_pulses, 40 + 40 + 700 - 2);
  std::vector<double> phase_s(static_cast<size_t>(train.LastIndex()) + 1, std::nan(""));
  for (size_t i = 0; i < train.Pulses(); ++i)
    phase_s[static_cast<size_t>(train.index[i])] = train.PhaseSeconds(i);
  RunStatistics stats;
  stats.AddWord(0);
  for (int64_t d : intervals) stats.AddWord(d);
  const std::vector<int64_t> factors = OctaveFactors(train.LastIndex());
  const struct {
    const char* path;
    std::vector<StabilityRow> rows;
  } paths[] = {
      {"pulse train", StabilityTable(train, factors)},
      {"phase with NaN", StabilityTable(phase_s, train.Tau0Ticks() * 25e-9, factors)},
      {"run statistics", stats.FinalSummary().stability},
  };
  std::ifstream reference(data + "_reference.csv");
  std::string line;
  ASSERT_TRUE(std::getline(reference, line));  // header
  int rows = 0;
  for (; std::getline(reference, line); ++rows) {
    int64_t m = 0, n = 0;
    double mdev = 0, tdev = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%ld,%ld,%lf,%lf", &m, &n, &mdev, &tdev), 4) << line;
    for (const auto& [path, got] : paths) {
      for (const auto& [deviation, want] :
           {std::pair{Deviation::kMdev, mdev}, {Deviation::kTdev, tdev}}) {
        const auto row = std::ranges::find_if(
            got, [&](const StabilityRow& r) { return r.deviation == deviation && r.m == m; });
        const std::string what = std::string(path) + " " + line;
        ASSERT_NE(row, got.end()) << what;
        EXPECT_EQ(row->n, n) << what;
        ExpectClose(want, row->value, 1e-9, what);
      }
    }
  }
  EXPECT_EQ(rows, std::ssize(factors));  // MDEV at every factor, as far as OADEV
}

// Runs far longer than the deepest factor taken on every point hold no more than the bound.
TEST(RunStatistics, HeldMemoryIsBoundedWhateverTheRunLength) {
  EXPECT_LT(RunStatistics::MaxHeldBytes(), size_t{64} << 20);
  const std::vector<int64_t> words = Words({"long", 400000, 0.001, 0.001, 0.001, 13});
  RunStatistics stats(2);
  size_t fed = 0;
  for (size_t stop : {size_t{1000}, size_t{50000}, words.size()}) {
    for (; fed < stop; ++fed) stats.AddWord(words[fed]);
    EXPECT_LE(stats.HeldBytes(), RunStatistics::MaxHeldBytes(2)) << stop;
  }
  int64_t deepest = 0;
  for (const StabilityRow& row : stats.Summary().stability) deepest = std::max(deepest, row.m);
  EXPECT_EQ(deepest, 65536);  // every factor the run reached, 2^14 times the points' deepest
}

// tau0 is taken again when the pulse count doubles (here at pulse 2000, the nominal having come
// from 1000): a phase step of 500 ticks just there is in windows that were open at that moment.
TEST(RunStatistics, MtieSeesAPhaseStepWhereTau0IsTakenAgain) {
  std::vector<int64_t> words(2101, 40000);
  words[2000] = 40500;
  RunStatistics stats;
  for (int64_t w : words) stats.AddWord(w);
  const PulseTrain train = BuildPulseTrain(std::vector<int64_t>(words.begin() + 1, words.end()));
  int checked = 0;
  for (const StabilityRow& want : BatchRows(train, kDeepestOctave)) {
    if (want.deviation != Deviation::kMtie) continue;
    for (const StabilityRow& got : stats.Summary().stability) {
      if (got.deviation != Deviation::kMtie || got.m != want.m) continue;
      // Every mean period of a prefix lies within 0.25 ticks of the final one.
      EXPECT_NEAR(want.value, got.value, 2 * static_cast<double>(want.m) * 0.25 * 2.5e-8) << want.m;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 10);  // m = 1 .. 512
}

TEST(RunStatistics, RunsWithoutATrainHaveNoStabilityRows) {
  struct Case {
    const char* name;
    std::vector<int64_t> words;
  };
  const Case cases[] = {
      {"nothing logged", {}},
      {"only the first word", {123}},
      {"zeros only", {5, 0, 0, 0, 0, 0, 0}},
      {"too few pulses for a factor", {5, 40000, 40001, 39999}},
  };
  for (const Case& c : cases) {
    RunStatistics stats;
    for (int64_t w : c.words) stats.AddWord(w);
    const RunSummary s = stats.Summary();
    EXPECT_EQ(s.words, std::ssize(c.words)) << c.name;
    EXPECT_TRUE(s.stability.empty()) << c.name;
  }
}

}  // namespace
}  // namespace analysis
