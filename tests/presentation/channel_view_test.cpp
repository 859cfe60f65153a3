#include "presentation/channel_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace presentation {
namespace {

using analysis::ChannelError;
using analysis::ChannelErrorEntry;

constexpr int64_t kPeriod = 40000;  // ticks: 1 kHz
constexpr int64_t kOrigin = 1000000;

struct Block {
  acquisition::DualStamps stamps;
  int64_t ch2_offset = 0;
};

// A pair of lines at 1 kHz, channel 2 `offset` ticks after channel 1 (10000: 90 degrees), with
// channel 2 one tick late on odd pulses, so the difference alternates between two values.
// `drop_ch2` loses that pulse of channel 2; `extra_ch1` adds a pulse a third of a period after
// that pulse of channel 1.
acquisition::DualStamps Quadrature(int pulses, int64_t offset, int drop_ch2, int extra_ch1) {
  acquisition::DualStamps s;
  for (int k = 0; k < pulses; ++k) {
    const int64_t t = kOrigin + k * kPeriod;
    s.ch1.push_back(t);
    if (k == extra_ch1) s.ch1.push_back(t + kPeriod / 3);
    if (k != drop_ch2) s.ch2.push_back(t + offset + (k % 2));
  }
  return s;
}

TEST(ChannelView, QuadraturePairWithALostAndAnAddedPulseIsReadOutAndListed) {
  const ChannelsView view =
      ComputeChannelsView(Quadrature(200, 10000, 50, 70), {.tie = true, .stability = true});
  ASSERT_TRUE(view.dual);
  ASSERT_TRUE(view.ch2.valid);
  EXPECT_EQ(view.ch2.jitter.missing_pulses, 1);
  EXPECT_EQ(view.ch2.jitter.extra_pulses, 0);
  const std::string ch2 = Ch2LineText(view.ch2);
  EXPECT_EQ(ch2.rfind("Ch2  Period jitter", 0), 0u) << ch2;
  EXPECT_NE(ch2.find("   |   Missing 1 / Extra 0"), std::string::npos) << ch2;

  const std::string line = PairingText(view.report);
  // Every pulse of channel 2 has its partner.
  for (const char* part : {"Ch2/Ch1 ratio ", "  paired 199  phase 90.0 deg (P-P 0.0  RMS 0.0",
                           "|  Unpaired Ch1 2  Ch2 0  Sequence 0  forward"}) {
    EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
  }
  EXPECT_TRUE(SecurityAlarm(view.report.security.counts));
  // The lost pulse would have been record 50 of channel 2, midway between its neighbours (50
  // periods, a quarter and a tick after the first stamp); the added one is record 71 of
  // channel 1, 70 and a third periods after it.
  EXPECT_EQ(ErrorListCsv(view.report.security.errors),
            "error,record,time_s\n"
            "missing_ch2,50,0.050250025\n"
            "extra_ch1,71,0.070333325\n");

  // The difference less its mean alternates +/-12.5 ns; the pulse channel 2 lost breaks it.
  ASSERT_TRUE(view.difference_tie.valid);
  const std::vector<double>& tie = view.difference_tie.tie_ns;
  int breaks = 0;
  for (double ns : tie) {
    if (std::isnan(ns)) {
      ++breaks;
    } else {
      EXPECT_NEAR(std::fabs(ns), 12.5, 0.2);
    }
  }
  EXPECT_EQ(breaks, 1);
  // TDEV and MTIE of the difference: MTIE over any window of two or more points is the 25 ns
  // between the two values.
  const std::vector<analysis::StabilityRow> rows =
      RowsOf(view.difference_table, kDifferenceDeviations);
  ASSERT_FALSE(rows.empty());
  for (const analysis::StabilityRow& row : rows) {
    EXPECT_TRUE(row.deviation == analysis::Deviation::kTdev ||
                row.deviation == analysis::Deviation::kMtie);
    if (row.deviation == analysis::Deviation::kMtie) {
      EXPECT_NEAR(row.value, 25e-9, 1e-12);
    }
  }
}

TEST(ChannelView, BlocksThatCannotBePairedSayWhy) {
  struct Case {
    const char* name;
    acquisition::DualStamps stamps;
    bool dual;
    std::string text;
  };
  acquisition::DualStamps three_to_two;
  for (int k = 0; k < 90; ++k) three_to_two.ch1.push_back(kOrigin + k * kPeriod);
  for (int k = 0; k < 60; ++k) three_to_two.ch2.push_back(kOrigin + 5000 + k * kPeriod * 3 / 2);
  acquisition::DualStamps single = Quadrature(50, 10000, -1, -1);
  single.ch2.clear();
  const Case cases[] = {
      {"rates 2:3", three_to_two, true,
       "Ch2/Ch1 ratio 0.6667: not near a whole number or its inverse, not paired"},
      {"channel 1 only", single, false, ""},
  };
  for (const Case& c : cases) {
    const ChannelsView view = ComputeChannelsView(c.stamps, {.tie = false, .stability = false});
    EXPECT_EQ(view.dual, c.dual) << c.name;
    if (c.dual) {
      EXPECT_EQ(PairingText(view.report), c.text) << c.name;
    }
  }
}

TEST(ChannelView, ErrorListIsCutToItsLinesAndTotalsAddUp) {
  const std::vector<ChannelErrorEntry> errors = {{ChannelError::kMissingCh1, 12, 0.5},
                                                 {ChannelError::kSequence, 1234, 1.25},
                                                 {ChannelError::kExtraCh2, 3000, 2}};
  EXPECT_EQ(ErrorListText(errors, 2),
            "missing_ch1  record 12  t 0.500000 s\nsequence  record 1234  t 1.250000 s\n"
            "... 1 more (chart menu: Save channel errors...)");
  EXPECT_EQ(ErrorListText({}, 2), "No pulse security errors");

  analysis::SecurityCounts run;
  analysis::SecurityCounts block{
      .blocks = 1, .paired = 999, .unpaired_ch1 = 1, .missing_ch2 = 1, .lagging = 999};
  run.Add(block);
  block.unpaired_ch1 = 0;
  block.missing_ch2 = 0;
  block.sequence_errors = 2;
  run.Add(block);
  EXPECT_EQ(RunTotalsText(run),
            "Run 2 blocks  paired 1,998  Missing Ch1 0  Ch2 1  Extra Ch1 0  Ch2 0  |  "
            "Unpaired Ch1 1  Ch2 0  Sequence 2  forward");
}

}  // namespace
}  // namespace presentation
