#include "analysis/channel_pairing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "acquisition/protocol.h"
#include "analysis/channel_run.h"
#include "analysis/pulse_security.h"

namespace analysis {
namespace {

constexpr double kTick = 25e-9;

// Exact edge times in ticks rounded to the clock, as the instrument stamps them.
std::vector<int64_t> Stamps(std::vector<double> edges) {
  std::sort(edges.begin(), edges.end());
  std::vector<int64_t> stamps;
  for (double t : edges) stamps.push_back(std::llround(t));
  return stamps;
}

// n edges at first + k * period (ticks), less the dropped ones, plus extra edges at the given
// times in periods after `first`.
std::vector<double> Edges(double first, double period, int n, const std::set<int>& dropped = {},
                          const std::vector<double>& extra = {}) {
  std::vector<double> edges;
  for (int k = 0; k < n; ++k) {
    if (!dropped.contains(k)) edges.push_back(first + k * period);
  }
  for (double x : extra) edges.push_back(first + x * period);
  return edges;
}

struct Expected {
  ChannelError error;
  int64_t record;
  double at_periods;  // after channel 1's first edge
};

// Faults put on a line pair: pulses dropped, extra edges (periods after channel 1's first
// edge), and a channel 2 pulse moved to lead its partner by as much as it should lag.
struct Faults {
  std::set<int> drop1{}, drop2{};
  std::vector<double> extra1{}, extra2{};
  int swapped = -1;
};

// A 1 kHz quadrature pair, 100 pulses a line, with faults on one line, the other or both.
TEST(PulseSecurity, QuadratureFaultsAreToldApartAtTheirRecords) {
  const double period = 40000.37;
  const double first = 1000;
  using E = ChannelError;
  const struct {
    const char* name;
    double ch2_phase;  // periods after channel 1
    Faults f;
    std::vector<Expected> errors;
    int64_t paired;
    Direction direction;
  } cases[] = {
      {"channel 2 loses one, channel 1 gains one",
       0.25,
       {.drop2 = {40}, .extra1 = {60.4}},
       {{E::kMissingCh2, 40, 40.25}, {E::kExtraCh1, 61, 60.4}},
       99,
       Direction::kForward},
      {"an extra halfway between two pulses, as near the channel 2 pulse as its partner",
       0.25,
       {.drop2 = {40}, .extra1 = {60.5}},
       {{E::kMissingCh2, 40, 40.25}, {E::kExtraCh1, 61, 60.5}},
       99,
       Direction::kForward},
      {"an extra just ahead of a true pulse",
       0.25,
       {.extra1 = {60.6}},
       {{E::kExtraCh1, 61, 60.6}},
       100,
       Direction::kForward},
      {"channel 1 loses one, channel 2 gains one",
       0.25,
       {.drop1 = {30}, .extra2 = {70.7}},
       {{E::kMissingCh1, 30, 30}, {E::kExtraCh2, 71, 70.7}},
       99,
       Direction::kForward},
      {"both lines lose the same pulse",
       0.25,
       {.drop1 = {50}, .drop2 = {50}},
       {},
       99,
       Direction::kForward},
      {"a pair in the wrong order",
       0.25,
       {.swapped = 20},
       {{E::kSequence, 20, 19.75}},
       100,
       Direction::kMixed},
      {"channel 2 leading, reverse flow",
       -0.25,
       {.drop2 = {70}},
       {{E::kMissingCh2, 70, 69.75}},
       99,
       Direction::kReverse},
  };
  for (const auto& c : cases) {
    std::vector<double> edges2 = Edges(first + c.ch2_phase * period, period, 100, c.f.drop2);
    for (double x : c.f.extra2) edges2.push_back(first + x * period);
    if (c.f.swapped >= 0) edges2[static_cast<size_t>(c.f.swapped)] -= 2 * c.ch2_phase * period;
    const ChannelsReport report =
        AnalyseChannels(Stamps(Edges(first, period, 100, c.f.drop1, c.f.extra1)), Stamps(edges2));
    const SecurityCounts& counts = report.security.counts;
    ASSERT_EQ(report.pairing.status, PairingStatus::kPaired) << c.name;
    EXPECT_EQ(counts.paired, c.paired) << c.name;
    EXPECT_EQ(counts.DirectionSeen(), c.direction) << c.name;
    ASSERT_EQ(report.security.errors.size(), c.errors.size()) << c.name;
    for (size_t i = 0; i < c.errors.size(); ++i) {
      const ChannelErrorEntry& got = report.security.errors[i];
      EXPECT_EQ(ChannelErrorName(got.error), ChannelErrorName(c.errors[i].error)) << c.name;
      EXPECT_EQ(got.record, c.errors[i].record) << c.name;
      const double from_origin = c.errors[i].at_periods - std::min(0.0, c.ch2_phase);
      EXPECT_NEAR(got.time_s, from_origin * period * kTick, kTick) << c.name;
    }
    const auto count = [&](ChannelError e) {
      return std::count_if(c.errors.begin(), c.errors.end(),
                           [&](const Expected& x) { return x.error == e; });
    };
    EXPECT_EQ(counts.unpaired_ch1,
              count(ChannelError::kMissingCh2) + count(ChannelError::kExtraCh1))
        << c.name;
    EXPECT_EQ(counts.unpaired_ch2,
              count(ChannelError::kMissingCh1) + count(ChannelError::kExtraCh2))
        << c.name;
    EXPECT_EQ(counts.sequence_errors, count(ChannelError::kSequence)) << c.name;
    EXPECT_NEAR(report.pairing.phase.mean_deg, 360 * c.ch2_phase, c.f.swapped >= 0 ? 2 : 0.01)
        << c.name;
  }
}

// A dual reply from a 32-bit counter that wraps mid-block, channel 2 one pulse short: record k
// holds the k-th stamp of each channel, so every channel 2 stamp after the lost one sits a record
// early. Pairing by time still finds the one lost pulse, where it would have been.
TEST(PulseSecurity, DualReplyWithALostPulseAcrossTheWrap) {
  const double start = 4294967296.0 - 12.5 * 40000;
  std::vector<int64_t> ch1 = Stamps(Edges(start, 40000.4, 30));
  std::vector<int64_t> ch2 = Stamps(Edges(start + 10000, 40000.4, 30, {7}));
  char line[64];
  std::string reply = "<K390><SAMPLES>1E,1D</SAMPLES>\r\n";
  for (size_t k = 0; k < ch1.size(); ++k) {
    const auto wrap = [](int64_t t) { return static_cast<unsigned long long>(t) & 0xFFFFFFFFull; };
    std::snprintf(line, sizeof line, "%zX,%llX,%llX\r\n", k, wrap(ch1[k]),
                  k < ch2.size() ? wrap(ch2[k]) : 0ull);
    reply += line;
  }
  reply += "</K390>";
  const acquisition::DualStamps stamps = acquisition::DecodeDualStamps(reply);
  const ChannelsReport report = AnalyseChannels(stamps.ch1, stamps.ch2);
  EXPECT_EQ(report.security.counts.paired, 29);
  ASSERT_EQ(report.security.errors.size(), 1u);
  EXPECT_EQ(report.security.errors[0].error, ChannelError::kMissingCh2);
  EXPECT_EQ(report.security.errors[0].record, 7);
  EXPECT_NEAR(report.pairing.phase.mean_deg, 90, 0.01);
}

// One line sorted by the train's rule: which of two close pulses is the extra one, a pulse
// jittered near half a period, and a gap kept as one entry however long.
TEST(ChannelPairing, LineSortedByTheTrainRule) {
  const double period = 40000.37;
  const struct {
    const char* name;
    std::vector<double> edges;  // periods
    std::vector<int64_t> extra_records;
    std::vector<int64_t> grid;  // of the gridded pulses; empty: 0, 1, 2 ...
    int64_t missing;
  } cases[] = {
      {"extra just ahead of the first pulse", {-0.3, 0, 1, 2, 3, 4, 5}, {0}, {}, 0},
      {"extra just ahead of the last pulse", {0, 1, 2, 3, 4, 4.7, 5}, {5}, {}, 0},
      {"extra just after a pulse", {0, 1, 2, 2.2, 3, 4, 5}, {3}, {}, 0},
      {"a pulse 0.45 period early is jitter", {0, 1, 2, 2.55, 4, 5, 6}, {}, {}, 0},
      {"a gap of 1000 periods",
       {0, 1, 2, 3, 1003, 1004, 1005},
       {},
       {0, 1, 2, 3, 1003, 1004, 1005},
       999},
  };
  for (const auto& c : cases) {
    std::vector<int64_t> stamps;
    for (double x : c.edges) stamps.push_back(std::llround(1e6 + x * period));
    const LinePulses line = SortLine(stamps);
    EXPECT_EQ(line.extra_records, c.extra_records) << c.name;
    std::vector<int64_t> grid = c.grid;
    for (size_t k = 0; c.grid.empty() && k + c.extra_records.size() < c.edges.size(); ++k) {
      grid.push_back(static_cast<int64_t>(k));
    }
    EXPECT_EQ(line.grid, grid) << c.name;
    EXPECT_EQ(line.MissingPulses(), c.missing) << c.name;
    EXPECT_LE(line.gaps.size(), 1u) << c.name;
    EXPECT_NEAR(line.period.Ticks(), period, 0.5) << c.name;
  }
}

// Lines at whole-number ratios pair; others are refused. Phases in degrees of channel 1.
TEST(ChannelPairing, RatiosOfTheRates) {
  const struct {
    const char* name;
    double period1, period2, ch2_phase;  // ticks; periods of channel 1
    int n1, n2;
    PairingStatus status;
    int64_t multiple;
    bool ch2_faster;
    int64_t paired;
  } cases[] = {
      {"channel 1 at twice channel 2's rate", 20000.3, 40000.6, 0.25, 200, 100,
       PairingStatus::kPaired, 2, false, 100},
      {"channel 2 at twice channel 1's rate", 40000.6, 20000.3, 0.1, 100, 200,
       PairingStatus::kPaired, 2, true, 100},
      {"three to one", 40000.6, 40000.6 / 3, -0.05, 100, 300, PairingStatus::kPaired, 3, true, 100},
      {"three halves", 40000.6, 40000.6 / 1.5, 0.25, 100, 150, PairingStatus::kRatioNotWhole, 0,
       false, 0},
  };
  for (const auto& c : cases) {
    const std::vector<int64_t> ch1 = Stamps(Edges(0, c.period1, c.n1));
    const std::vector<int64_t> ch2 = Stamps(Edges(c.ch2_phase * c.period1, c.period2, c.n2));
    const ChannelsReport report = AnalyseChannels(ch1, ch2);
    EXPECT_EQ(report.pairing.status, c.status) << c.name;
    EXPECT_NEAR(report.pairing.ratio, c.period1 / c.period2, 1e-6) << c.name;
    EXPECT_EQ(report.security.counts.paired, c.paired) << c.name;
    EXPECT_TRUE(report.security.errors.empty()) << c.name;
    if (c.status != PairingStatus::kPaired) continue;
    EXPECT_EQ(report.pairing.multiple, c.multiple) << c.name;
    EXPECT_EQ(report.pairing.ch2_faster, c.ch2_faster) << c.name;
    EXPECT_NEAR(report.pairing.phase.mean_deg, 360 * c.ch2_phase, 0.01) << c.name;
    EXPECT_NEAR(report.pairing.phase.difference_mean_s, c.ch2_phase * c.period1 * kTick, kTick / 2)
        << c.name;
  }
}

// Lines whose jitter crosses +/-180 or 0: the pairing must not flip between neighbours, and
// lines with no order to keep show neither a direction nor sequence errors.
TEST(ChannelPairing, JitterAcrossTheFlipPoints) {
  const struct {
    const char* name;
    double offset;  // ticks of channel 2 after channel 1
    double mean_deg;
    Direction direction;
  } cases[] = {
      {"antiphase", 20000, 180, Direction::kNone},
      {"in phase", 0, 0, Direction::kNone},
      {"quadrature", 10000, 90, Direction::kForward},
  };
  for (const auto& c : cases) {
    std::mt19937_64 random(11);
    std::normal_distribution<double> jitter(0, 300);  // ticks, 2.7 degrees at 40000
    std::vector<double> edges2 = Edges(c.offset, 40000, 500);
    for (double& t : edges2) t += jitter(random);
    const ChannelsReport report = AnalyseChannels(Stamps(Edges(0, 40000, 500)), Stamps(edges2));
    EXPECT_EQ(report.pairing.pairs.size(), 500u) << c.name;
    EXPECT_TRUE(report.security.errors.empty()) << c.name;
    EXPECT_EQ(report.security.counts.DirectionSeen(), c.direction) << c.name;
    EXPECT_NEAR(WrapPhase(report.pairing.phase.mean_deg - c.mean_deg, 360), 0, 0.5) << c.name;
    EXPECT_LT(report.pairing.phase.pp_deg, 30) << c.name;
    EXPECT_NEAR(report.pairing.phase.rms_deg, 300.0 / 40000 * 360, 0.3) << c.name;
  }
}

// Channel 2 slips against channel 1 at a steady rate: the phase ramps, and its slope in degrees
// per second is 360 (P2 - P1) / P1 per P2 ticks, that is 360 (P2 - P1) / (P1 P2 25 ns).
TEST(ChannelPairing, PhaseRampGivesItsDrift) {
  const double period1 = 40000;
  const int n = 1000;
  for (double slip : {4.0, -4.0, 0.0}) {  // ticks per pulse
    const double period2 = period1 + slip;
    const ChannelsReport report =
        AnalyseChannels(Stamps(Edges(0, period1, n)), Stamps(Edges(10000, period2, n)));
    const double drift = 360 * slip / (period1 * period2 * kTick);
    const double range = 360 * slip * (n - 1) / period1;  // degrees over the block
    EXPECT_NEAR(report.pairing.phase.drift_deg_per_s, drift, 0.01) << slip;
    EXPECT_NEAR(report.pairing.phase.pp_deg, std::abs(range), 0.05) << slip;
    EXPECT_NEAR(report.pairing.phase.rms_deg, std::abs(range) / std::sqrt(12.0), 0.05) << slip;
    EXPECT_NEAR(report.pairing.phase.mean_deg, 90 + range / 2, 0.05) << slip;
  }
}

// Sequence errors against the operator's window around the mean phase.
TEST(PulseSecurity, PhaseWindowAroundTheMean) {
  std::vector<double> edges2 = Edges(10000, 40000, 100);
  edges2[30] += 4900;  // 44.1 degrees late
  edges2[60] -= 6000;  // 54 degrees early
  const std::vector<int64_t> ch1 = Stamps(Edges(0, 40000, 100));
  const std::vector<int64_t> ch2 = Stamps(edges2);
  const struct {
    double window;
    std::vector<int64_t> records;
  } cases[] = {{45, {60}}, {40, {30, 60}}, {60, {}}};
  for (const auto& c : cases) {
    const PulseSecurity security = AnalyseChannels(ch1, ch2, c.window).security;
    std::vector<int64_t> records;
    for (const ChannelErrorEntry& e : security.errors) {
      EXPECT_EQ(e.error, ChannelError::kSequence);
      records.push_back(e.record);
    }
    EXPECT_EQ(records, c.records) << c.window;
  }
}

}  // namespace
}  // namespace analysis

namespace analysis {
namespace {

// A run's totals: counts summed over every block, blocks that did not pair apart, errors listed
// with their block up to the cap while the counts go on.
TEST(ChannelRunTotals, BlocksAddUpAndTheListStopsAtItsCap) {
  const double period = 40000.37;
  const ChannelsReport faulty = AnalyseChannels(Stamps(Edges(0, period, 100, {}, {60.4})),
                                                Stamps(Edges(0.25 * period, period, 100, {40})));
  const ChannelsReport clean =
      AnalyseChannels(Stamps(Edges(0, period, 100)), Stamps(Edges(0.1 * period, period, 100)));
  const ChannelsReport unpaired =
      AnalyseChannels(Stamps(Edges(0, period, 100)), Stamps(Edges(0, period / 1.5, 150)));
  ASSERT_EQ(faulty.security.errors.size(), 2u);
  ChannelRunTotals run;
  for (const ChannelsReport* block : {&clean, &faulty, &unpaired}) run.Add(*block);
  EXPECT_EQ(run.counts.blocks, 3);
  EXPECT_EQ(run.blocks_not_paired, 1);
  EXPECT_EQ(run.blocks_with_errors, 1);
  EXPECT_EQ(run.counts.paired, 100 + 99);
  EXPECT_EQ(run.counts.missing_ch2, 1);
  EXPECT_EQ(run.counts.extra_ch1, 1);
  EXPECT_NEAR(run.phase_mean_min_deg, 36, 0.01);
  EXPECT_NEAR(run.phase_mean_max_deg, 90, 0.01);
  ASSERT_EQ(run.errors.size(), 2u);
  EXPECT_EQ(run.errors[0], (RunChannelError{2, faulty.security.errors[0]}));
  EXPECT_EQ(run.errors[1].block, 2);
  for (int i = 0; i < kMostListedRunErrors; ++i) run.Add(faulty);
  EXPECT_EQ(static_cast<int64_t>(run.errors.size()), kMostListedRunErrors);
  EXPECT_EQ(run.errors.back().block, 3 + kMostListedRunErrors / 2 - 1);
  EXPECT_EQ(run.counts.missing_ch2, 1 + kMostListedRunErrors);
}

}  // namespace
}  // namespace analysis
