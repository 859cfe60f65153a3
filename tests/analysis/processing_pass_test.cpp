#include "analysis/processing_pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

using acquisition::PulseData;
using Values = std::vector<int32_t>;

Values Repeat(int32_t value, size_t count) { return Values(count, value); }

Values Concat(Values a, const Values& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// One pass over a loaded list, as Load runs it.
struct Pass {
  explicit Pass(PassOptions o = {}) : options(std::move(o)) {}
  PassResult Run(const Values& values) {
    DecodeLoadedList({values, std::nullopt}, data);
    return Compute(data, options);
  }
  PassOptions options;
  PulseData data;
};

// The whole-tick figures and the centre, as one comparable row.
struct Ticks {
  int64_t average, positive, negative, peak_to_peak, rms;
  bool operator==(const Ticks&) const = default;
};

Ticks TicksOf(const JitterFigures& f) {
  return {f.average_ticks, f.peak_positive_ticks, f.peak_negative_ticks, f.peak_to_peak_ticks,
          f.rms_ticks};
}

TEST(ProcessingPass, FourValueListGivesEveryFigure) {
  Pass pass;
  const PassResult r = pass.Run({40000, 40004, 39996, 40000});
  ASSERT_EQ(r.outcome, PassOutcome::kFigures);
  const JitterFigures& f = r.figures;
  EXPECT_EQ(TicksOf(f), (Ticks{40000, 4, -4, 8, 6}));  // RMS 2 x sqrt(8) = 5.66
  EXPECT_DOUBLE_EQ(f.peak_to_peak_percent, 0.02);
  EXPECT_DOUBLE_EQ(f.held_peak_to_peak_percent, 0.02);
  EXPECT_DOUBLE_EQ(f.rms_percent, 2 * std::sqrt(8.0) / 40000 * 100);
  EXPECT_DOUBLE_EQ(f.ch1_seconds, 0.001);
  EXPECT_DOUBLE_EQ(f.ch1_frequency_hz, 1000);
  EXPECT_EQ(f.ch2_seconds, 0);
  EXPECT_EQ(f.ch2_frequency_hz, 0);
  EXPECT_DOUBLE_EQ(r.chart.CentreInterval, 40000);
  EXPECT_DOUBLE_EQ(r.chart.CentreFrequency, 1000);
  EXPECT_EQ(r.chart.data, &pass.data);
  EXPECT_EQ(pass.data.Ch1Count, 5);
  EXPECT_EQ(pass.data.Ch2Count, 0);
  EXPECT_EQ(r.left_axis_title, "Pulse-Pulse Interval (x25ns)");
  EXPECT_EQ(r.series2_title, "Ch2");
}

TEST(ProcessingPass, SmallListsGiveTheirFigures) {
  struct Case {
    Values values;
    Ticks ticks;
    double centre;
  };
  const std::vector<Case> cases = {
      // The average 10.5 rounds to even; both deviations truncate to 0.
      {{10, 11}, {10, 0, 0, 0, 0}, 10.5},
      {{40000}, {40000, 0, 0, 0, 0}, 40000},
      {{12, 13}, {12, 0, 0, 0, 0}, 12.5},
      {{13, 14}, {14, 0, 0, 0, 0}, 13.5},
      // Deviations -1.5 and +1.5 truncate toward zero before they are squared.
      {{40000, 40003}, {40002, 1, -1, 2, 2}, 40001.5},
      // A negative interval among positive ones still gives figures when the average is above 0.
      {{-10, 30}, {10, 20, -20, 40, 40}, 10},
  };
  for (const Case& c : cases) {
    Pass pass;
    const PassResult r = pass.Run(c.values);
    EXPECT_EQ(TicksOf(r.figures), c.ticks) << c.values.front();
    EXPECT_DOUBLE_EQ(r.chart.CentreInterval, c.centre) << c.values.front();
  }
}

TEST(ProcessingPass, InputsWithoutFiguresSayHowFarThePassGot) {
  struct Case {
    Values values;
    PassOutcome outcome;
  };
  const std::vector<Case> cases = {
      {{}, PassOutcome::kNoRecords},
      {{0}, PassOutcome::kNoFigures},
      {{0, 0}, PassOutcome::kNoFigures},
      {{-5, 3}, PassOutcome::kNoFigures},
      {{-40000, -40000, -40000}, PassOutcome::kNoFigures},
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    pass.Load({c.values, std::nullopt});
    pass.DecodeLoaded();
    const PassResult r = pass.Compute({});
    EXPECT_EQ(r.outcome, c.outcome) << c.values.size();
    // Only a pass with records retitles the second trace.
    EXPECT_EQ(r.series2_title.has_value(), c.outcome != PassOutcome::kNoRecords);
    EXPECT_EQ(r.chart.data, nullptr);
    EXPECT_EQ(pass.Held().pp_percent, 0);
  }
}

TEST(ProcessingPass, CentreFollowsTheLastFiveIntervalsOnlyAfterAFivePercentStep) {
  struct Case {
    Values values;
    double centre;
    std::string frequency;
  };
  const std::vector<Case> cases = {
      {Concat(Repeat(40000, 5), Repeat(44000, 5)), 42000, "952.3810"},  // 4.76 % apart
      {Concat(Repeat(40000, 5), Repeat(45000, 5)), 45000, "888.8889"},  // 5.88 % apart
      {Repeat(40000, 4), 40000, "1000.0000"},                           // too few for the tail
      // The tail intervals are rounded to whole ticks before their mean is taken.
      {Concat(Repeat(10, 5), Repeat(100, 5)), 100, "400000.0000"},
      // A tail far below 0 is still the centre; the chart refuses it, not the pass.
      {Concat(Repeat(40000, 100), Repeat(-10000, 5)), -10000, "0.0000"},
  };
  for (const Case& c : cases) {
    Pass pass;
    const PassResult r = pass.Run(c.values);
    EXPECT_DOUBLE_EQ(r.chart.CentreInterval, c.centre);
    EXPECT_EQ(common::FixedText(r.chart.CentreFrequency, 4), c.frequency);
  }
}

TEST(ProcessingPass, ThePassHoldsTheHighestPeakToPeakUntilReset) {
  ProcessingPass pass;
  auto run = [&pass](const Values& values) {
    pass.Load({values, std::nullopt});
    pass.DecodeLoaded();
    return pass.Compute({}).figures;
  };
  EXPECT_DOUBLE_EQ(run({40000, 40004, 39996, 40000}).held_peak_to_peak_percent, 0.02);
  const JitterFigures lower = run({40000, 40002, 39998, 40000});
  EXPECT_DOUBLE_EQ(lower.peak_to_peak_percent, 0.01);
  EXPECT_DOUBLE_EQ(lower.held_peak_to_peak_percent, 0.02);
  // A pass without figures leaves the held value alone.
  run({0, 0});
  EXPECT_DOUBLE_EQ(pass.Held().pp_percent, 0.02);
  pass.ResetPeaks();
  EXPECT_DOUBLE_EQ(run({40000, 40002, 39998, 40000}).held_peak_to_peak_percent, 0.01);
  // The pure form starts from the maximum it is given.
  PulseData data;
  DecodeLoadedList({{40000, 40002, 39998, 40000}, std::nullopt}, data);
  EXPECT_DOUBLE_EQ(Compute(data, {}, 0.015).figures.held_peak_to_peak_percent, 0.015);
}

TEST(ProcessingPass, TheViewTitlesTheLeftAxis) {
  const std::vector<std::pair<GraphView, std::string>> cases = {
      {GraphView::kInterval, "Pulse-Pulse Interval (x25ns)"},
      {GraphView::kFrequency, "Pulse Frequency (Hz)"},
      {GraphView::kHistogram, "Pulse Frequency (Hz)"},
  };
  for (const auto& [view, title] : cases) {
    PassOptions options;
    options.view = view;
    Pass pass(options);
    // A pass without records still carries the title.
    EXPECT_EQ(pass.Run({}).left_axis_title, title);
    EXPECT_EQ(pass.Run({40000, 40004}).left_axis_title, title);
  }
}

TEST(ProcessingPass, TheFilterRunsOnlyWhenAskedForWithABuiltTable) {
  struct Case {
    bool smooth;
    int length;  // 0: never set
    std::string title;
    int64_t ch2_count;
  };
  const std::vector<Case> cases = {
      {true, 3, "Filter", 6},
      {false, 3, "Ch2", 0},
      {true, 0, "Ch2", 0},  // the table was never built
  };
  for (const Case& c : cases) {
    SmoothingFilter filter;
    if (c.length > 0) filter.SetLength(c.length);
    PassOptions options;
    options.smooth = c.smooth;
    options.filter = &filter;
    Pass pass(options);
    const PassResult r = pass.Run({40000, 40004, 39996, 40000, 40008});
    EXPECT_EQ(r.series2_title, c.title);
    EXPECT_EQ(pass.data.Ch2Count, c.ch2_count);
    // The smoothed trace is no channel 2 capture: its average stays 0.
    EXPECT_EQ(r.figures.ch2_seconds, 0);
    if (c.title == "Filter") {
      EXPECT_DOUBLE_EQ(pass.data.Ch2Intervals[2], 40001);
      EXPECT_DOUBLE_EQ(pass.data.Ch2Intervals[3], 39999);
      EXPECT_DOUBLE_EQ(pass.data.Ch2Intervals[4], 40001);
      EXPECT_EQ(pass.data.Ch2Intervals[1], 0);
      EXPECT_EQ(pass.data.Ch2Intervals[5], 0);
    }
  }
}

TEST(ProcessingPass, CountsBeyondTheArraysAreClampedTo5001) {
  // A stream window may claim more records than the arrays hold.
  PulseData data;
  for (size_t i = 1; i <= 5000; ++i) data.Ch1Intervals[i] = 40000;
  data.Ch1Average = 5000 * 40000.0;
  data.Ch1Count = 9000;
  const PassResult r = Compute(data, {});
  EXPECT_EQ(data.Ch1Count, 5001);
  EXPECT_EQ(TicksOf(r.figures), (Ticks{40000, 0, 0, 0, 0}));
}

TEST(ProcessingPass, DeviationsBeyondTheSquareRangeOfSixtyFourBitsStillGiveFigures) {
  // Nine 1-tick deltas and one near 2^32: the large deviation squared exceeds 2^63.
  PulseData data;
  for (size_t i = 1; i <= 9; ++i) data.Ch1Intervals[i] = 1;
  data.Ch1Intervals[10] = 4294967295.0;
  data.Ch1Average = 9 + 4294967295.0;
  data.Ch1Count = 11;
  const JitterFigures f = Compute(data, {}).figures;
  EXPECT_EQ(TicksOf(f), (Ticks{429496730, 3865470564, -429496729, 4294967293, 2576980376}));
  EXPECT_NEAR(f.rms_percent, 599.99999846332, 1e-9);
  EXPECT_NEAR(f.peak_to_peak_percent, 999.99999743886, 1e-9);
}

// Both channels, five records: channel 1 steps 40000, 40004, 39996, 40000, channel 2 20000.
constexpr char kDualReply[] =
    "<K390><SAMPLES>5,5</SAMPLES>\r\n"
    "0,0,0\r\n"
    "1,9C40,4E20\r\n"
    "2,13884,9C40\r\n"
    "3,1D4C0,EA60\r\n"
    "4,27100,13880\r\n"
    "</K390>";

TEST(ProcessingPass, AnInstrumentReplyGivesBothChannelsFigures) {
  ProcessingPass pass;
  ASSERT_TRUE(pass.Decode(kDualReply));
  const JitterFigures f = pass.Compute({}).figures;
  EXPECT_EQ(TicksOf(f), (Ticks{40000, 4, -4, 8, 6}));
  EXPECT_DOUBLE_EQ(f.ch1_seconds, 0.001);
  EXPECT_DOUBLE_EQ(f.ch2_seconds, 0.0005);
  EXPECT_DOUBLE_EQ(f.ch2_frequency_hz, 2000);
  EXPECT_DOUBLE_EQ(pass.Data().Ch2Average, 20000);
  ASSERT_EQ(pass.Memo().size(), 8u);
  EXPECT_EQ(pass.Memo().back(), "5");

  // The next pass starts from an empty log; a loaded list writes none.
  pass.Decode("");
  EXPECT_EQ(pass.Memo(), std::vector<std::string>{"0"});
  pass.DecodeLoaded();
  EXPECT_TRUE(pass.Memo().empty());
}

TEST(ProcessingPass, ARemovedOrIncompleteReplyGivesNoRecords) {
  struct Case {
    std::string reply;
    bool decoded;  // false: nothing to compute, and a stream pass takes no window either
  };
  const std::vector<Case> cases = {
      {"", true},                                              // removed by the receive handler
      {"<K390>\r\n<SAMPLES>5,0</SAMPLES>\r\n</K390>", false},  // no header on the first line
      {"<K390><SAMPLES>0,0</SAMPLES>\r\n0,0,0\r\n</K390>", false},  // both counts 0
      {"\r\n", false},  // a stray CR in the TCP stream bytes
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    EXPECT_EQ(pass.Decode(c.reply), c.decoded) << c.reply;
    EXPECT_EQ(pass.Data().Ch1Count, 0) << c.reply;
    if (c.decoded) {
      EXPECT_EQ(pass.Compute({}).outcome, PassOutcome::kNoRecords) << c.reply;
    }
  }
}

TEST(ProcessingPass, AMalformedReplyRaisesTheConversionError) {
  ProcessingPass pass;
  try {
    pass.Decode("<SAMPLES>5,0</SAMPLES>\r\n0,0\r\n</K390>");
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Reply line 2, stamp 2: '$' is not a valid integer value");
  }
}

TEST(DecodeLoadedList, StoresValuesFromIndexOneAndCountsOneMore) {
  PulseData data;
  data.Ch2Intervals[2] = 99;
  data.Ch1Average = 7;  // left from an earlier pass
  DecodeLoadedList({{5, -7, 2147483647}, std::nullopt}, data);
  EXPECT_EQ(data.Ch1Count, 4);
  EXPECT_EQ(data.Ch2Count, 0);
  EXPECT_EQ(data.Ch1Intervals[1], 5);
  EXPECT_EQ(data.Ch1Intervals[2], -7);
  EXPECT_EQ(data.Ch1Intervals[3], 2147483647);
  EXPECT_EQ(data.Ch2Intervals[2], 0);
  EXPECT_DOUBLE_EQ(data.Ch1Average, 5 - 7 + 2147483647.0);
}

TEST(DecodeLoadedList, KeepsTheFirst5000ValuesAndRaisesTheListsError) {
  PulseData data;
  DecodeLoadedList({Concat(Repeat(40000, 5000), Repeat(7, 3)), std::nullopt}, data);
  EXPECT_EQ(data.Ch1Count, 5001);
  EXPECT_DOUBLE_EQ(data.Ch1Average, 5000 * 40000.0);
  EXPECT_EQ(data.Ch1Intervals[5000], 40000);
  EXPECT_EQ(data.Ch2Intervals[0], 0);  // nothing spilled past the first array

  // The error of a value past the first 5000 still refuses the list, after the values before it.
  PulseData bad;
  bad.Ch1Count = 7;
  try {
    DecodeLoadedList({Repeat(40000, 6000), "'x' is not a valid integer value"}, bad);
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(e.Message(), "'x' is not a valid integer value");
  }
  EXPECT_EQ(bad.Ch1Count, 0);
  EXPECT_EQ(bad.Ch1Intervals[5000], 40000);
}

}  // namespace
}  // namespace analysis
