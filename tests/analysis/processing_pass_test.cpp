#include "analysis/processing_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

using acquisition::PulseData;

std::string Join(const std::vector<long long>& values) {
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(values[i]);
  }
  return text;
}

std::vector<long long> Repeat(long long value, size_t count) {
  return std::vector<long long>(count, value);
}

// One pass over a loaded list, as Load runs it.
struct Pass {
  explicit Pass(PassOptions o = {}) : options(std::move(o)) {}
  PassResult Run(std::string_view list) {
    EXPECT_TRUE(Decode(list, true, data, nullptr));
    return Compute(data, options);
  }
  PassOptions options;
  PulseData data;
};

std::vector<long long> Concat(std::vector<long long> a, const std::vector<long long>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ProcessingPass, FourValueListGivesEveryFigureText) {
  Pass pass;
  const PassResult r = pass.Run("40000,40004,39996,40000");

  const std::vector<std::pair<Figure, std::string>> expected = {
      {Figure::kEsampavg, "40000"},
      {Figure::kEpkpos, "+4"},
      {Figure::kEpkneg, "-4"},
      {Figure::kEjitpp, "8"},
      {Figure::kEjitpp_pct, "0.0200"},
      {Figure::kEjitpp_max, "0.0200"},
      {Figure::kEjitrms, "6"},
      {Figure::kEjitrms_pct, "0.0141"},
      {Figure::kEint1, "0.001000000000"},
      {Figure::kEfreq1, "1000.0000"},
      {Figure::kEint2, "0.000000000000"},
      {Figure::kEfreq2, "0.0000"},
  };
  for (const auto& [figure, text] : expected) EXPECT_EQ(r.Text(figure), text) << FigureName(figure);
  EXPECT_EQ(r.outcome, PassOutcome::kFigures);
  // No flight time: no pulse count, no quality factor, the held quality untouched.
  EXPECT_EQ(r.flight.pulses, "");
  EXPECT_EQ(r.flight.quality, "");
  EXPECT_FALSE(r.flight.quality_peak);
  EXPECT_DOUBLE_EQ(r.held.pp_percent, 0.02);
  EXPECT_EQ(r.held.quality, 0);
  EXPECT_DOUBLE_EQ(r.chart.CentreInterval, 40000);
  EXPECT_DOUBLE_EQ(r.chart.CentreFrequency, 1000);
  EXPECT_EQ(r.chart.data, &pass.data);
  EXPECT_EQ(pass.data.Ch1Count, 5);
  EXPECT_EQ(pass.data.Ch2Count, 0);
  EXPECT_DOUBLE_EQ(pass.data.Ch1Average, 40000);
  EXPECT_EQ(r.left_axis_title, "Pulse-Pulse Interval (x25ns)");
  EXPECT_EQ(r.series2_title, "Ch2");
}

TEST(ProcessingPass, SmallListsGiveTheirFigures) {
  struct Case {
    std::string list;
    std::vector<std::pair<Figure, std::string>> texts;
    double centre;
  };
  const std::vector<Case> cases = {
      // The average 10.5 rounds to even; both deviations truncate to 0.
      {"10,11",
       {{Figure::kEsampavg, "10"},
        {Figure::kEjitpp, "0"},
        {Figure::kEpkpos, "0"},
        {Figure::kEpkneg, "0"},
        {Figure::kEjitrms, "0"}},
       10.5},
      {"40000",
       {{Figure::kEsampavg, "40000"},
        {Figure::kEjitpp, "0"},
        {Figure::kEpkpos, "0"},
        {Figure::kEjitrms, "0"}},
       40000},
      {"12,13", {{Figure::kEsampavg, "12"}, {Figure::kEjitpp, "0"}}, 12.5},
      {"13,14", {{Figure::kEsampavg, "14"}}, 13.5},
      // Deviations -1.5 and +1.5 truncate toward zero.
      {"40000,40003",
       {{Figure::kEpkpos, "+1"}, {Figure::kEpkneg, "-1"}, {Figure::kEjitpp, "2"}},
       40001.5},
      // A negative interval among positive ones still gives figures when the average is above 0.
      {"-10,30",
       {{Figure::kEsampavg, "10"}, {Figure::kEpkpos, "+20"}, {Figure::kEpkneg, "-20"}},
       10},
  };
  for (const Case& c : cases) {
    Pass pass;
    const PassResult r = pass.Run(c.list);
    for (const auto& [figure, text] : c.texts) {
      EXPECT_EQ(r.Text(figure), text) << c.list << " " << FigureName(figure);
    }
    EXPECT_DOUBLE_EQ(r.chart.CentreInterval, c.centre) << c.list;
  }
}

TEST(ProcessingPass, InputsWithoutFiguresSayHowFarThePassGot) {
  struct Case {
    std::string list;
    PassOutcome outcome;
  };
  const std::vector<Case> cases = {
      {"", PassOutcome::kNoRecords},
      {"0", PassOutcome::kNoFigures},
      {"0,0", PassOutcome::kNoFigures},
      {"-5,3", PassOutcome::kNoFigures},
      {"-40000,-40000,-40000", PassOutcome::kNoFigures},
  };
  for (const Case& c : cases) {
    Pass pass;
    const PassResult r = pass.Run(c.list);
    EXPECT_EQ(r.outcome, c.outcome) << "'" << c.list << "'";
    // Only a pass with records retitles the second trace.
    EXPECT_EQ(r.series2_title.has_value(), c.outcome != PassOutcome::kNoRecords) << c.list;
    EXPECT_EQ(r.Text(Figure::kEsampavg), "") << c.list;
    EXPECT_EQ(r.chart.data, nullptr) << c.list;
    EXPECT_EQ(r.held.pp_percent, 0) << c.list;
  }
}

TEST(ProcessingPass, CentreFollowsTheLastFiveIntervalsOnlyAfterAFivePercentStep) {
  struct Case {
    std::vector<long long> values;
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
    const PassResult r = pass.Run(Join(c.values));
    EXPECT_DOUBLE_EQ(r.chart.CentreInterval, c.centre);
    EXPECT_EQ(common::FixedText(r.chart.CentreFrequency, 4), c.frequency);
  }
}

TEST(ProcessingPass, HeldMaximaRiseOnlyAndStartFromTheGivenOnes) {
  PassOptions options;
  options.held = {0.0150, 0.5};
  Pass pass(options);
  PassResult r = pass.Run("40000,40002,39998,40000");  // 0.0100 %
  EXPECT_EQ(r.Text(Figure::kEjitpp_pct), "0.0100");
  EXPECT_EQ(r.Text(Figure::kEjitpp_max), "0.0150");
  EXPECT_DOUBLE_EQ(r.held.pp_percent, 0.0150);
  EXPECT_DOUBLE_EQ(r.held.quality, 0.5);

  pass.options.held = r.held;
  r = pass.Run("40000,40004,39996,40000");  // 0.0200 %
  EXPECT_EQ(r.Text(Figure::kEjitpp_max), "0.0200");
  EXPECT_DOUBLE_EQ(r.held.pp_percent, 0.02);
}

TEST(ProcessingPass, FlightTimeFollowsTheFiguresOfThePass) {
  PassOptions options;
  options.flight_ms = "1";
  Pass pass(options);
  const PassResult r = pass.Run(Join(Concat(Repeat(12000, 3), {12006, 11994, 12000})));
  // 0.000300000000 s per pulse, P-P 12 ticks of 12000: 0.1000 % over 3 pulses.
  EXPECT_EQ(r.Text(Figure::kEint1), "0.000300000000");
  EXPECT_EQ(r.Text(Figure::kEjitpp_pct), "0.1000");
  EXPECT_EQ(r.flight.pulses, "(3 pulses)");
  EXPECT_EQ(r.flight.quality, "0.0333");
  EXPECT_EQ(r.flight.quality_peak, "0.0333");
  EXPECT_NEAR(r.held.quality, 0.1 / 3, 1e-12);
}

TEST(ProcessingPass, AFlightTimeBeyondTheIntegerRangeIsAnErrorValue) {
  PassOptions options;
  options.flight_ms = "99999999999";
  Pass pass(options);
  const PassResult r = pass.Run("40000,40004,39996,40000");
  EXPECT_EQ(r.outcome, PassOutcome::kFigures);
  EXPECT_EQ(r.flight.error, "'99999999999' is not a valid integer value");
  EXPECT_EQ(r.held.quality, 0);
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
    EXPECT_EQ(pass.Run("").left_axis_title, title);
    EXPECT_EQ(pass.Run("40000,40004").left_axis_title, title);
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
    const PassResult r = pass.Run("40000,40004,39996,40000,40008");
    EXPECT_EQ(r.series2_title, c.title);
    EXPECT_EQ(pass.data.Ch2Count, c.ch2_count);
    // The smoothed trace is no channel 2 capture: its average stays 0.
    EXPECT_EQ(r.Text(Figure::kEint2), "0.000000000000");
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
  EXPECT_EQ(r.Text(Figure::kEsampavg), "40000");
  EXPECT_EQ(r.Text(Figure::kEjitpp), "0");
}

TEST(ProcessingPass, DeviationsBeyondTheSquareRangeOfSixtyFourBitsStillGiveFigures) {
  // Nine 1-tick deltas and one near 2^32: the large deviation squared exceeds 2^63.
  PulseData data;
  for (size_t i = 1; i <= 9; ++i) data.Ch1Intervals[i] = 1;
  data.Ch1Intervals[10] = 4294967295.0;
  data.Ch1Average = 9 + 4294967295.0;
  data.Ch1Count = 11;
  const PassResult r = Compute(data, {});
  EXPECT_EQ(r.Text(Figure::kEpkpos), "+3865470564");
  EXPECT_EQ(r.Text(Figure::kEpkneg), "-429496729");
  EXPECT_EQ(r.Text(Figure::kEjitpp), "4294967293");
  EXPECT_EQ(r.Text(Figure::kEjitrms), "2576980376");
  EXPECT_EQ(r.Text(Figure::kEjitrms_pct), "600.0000");
  EXPECT_EQ(r.Text(Figure::kEjitpp_pct), "1000.0000");
}

TEST(ProcessingPass, AConversionErrorInTheListEndsTheDecoding) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"40000,abc,40000", "'abc' is not a valid integer value"},
      {"40000,,40000", "'' is not a valid integer value"},
      {"40000, 40000", "' 40000' is not a valid integer value"},
      {"2147483648", "'2147483648' is not a valid integer value"},
  };
  for (const auto& [list, message] : cases) {
    PulseData data;
    data.Ch1Count = 7;
    try {
      Decode(list, true, data, nullptr);
      ADD_FAILURE() << "no error for " << list;
    } catch (const common::Error& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(data.Ch1Count, 0) << list;  // the counts were reset before the values
  }
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
  ASSERT_TRUE(pass.Decode(kDualReply, false));
  const PassResult r = Compute(pass.Data(), {});
  const std::vector<std::pair<Figure, std::string>> expected = {
      {Figure::kEsampavg, "40000"},
      {Figure::kEjitpp, "8"},
      {Figure::kEpkpos, "+4"},
      {Figure::kEpkneg, "-4"},
      {Figure::kEint1, "0.001000000000"},
      {Figure::kEfreq1, "1000.0000"},
      {Figure::kEint2, "0.000500000000"},
      {Figure::kEfreq2, "2000.0000"},
  };
  for (const auto& [figure, text] : expected) EXPECT_EQ(r.Text(figure), text) << FigureName(figure);
  EXPECT_DOUBLE_EQ(pass.Data().Ch2Average, 20000);
  ASSERT_EQ(pass.Memo().size(), 8u);
  EXPECT_EQ(pass.Memo().back(), "5");

  // The next pass starts from an empty log.
  pass.Decode("", false);
  EXPECT_EQ(pass.Memo(), std::vector<std::string>{"0"});
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
    EXPECT_EQ(pass.Decode(c.reply, false), c.decoded) << c.reply;
    EXPECT_EQ(pass.Data().Ch1Count, 0) << c.reply;
    if (c.decoded) {
      EXPECT_EQ(Compute(pass.Data(), {}).outcome, PassOutcome::kNoRecords) << c.reply;
    }
  }
}

TEST(ProcessingPass, AMalformedReplyRaisesTheConversionError) {
  ProcessingPass pass;
  try {
    pass.Decode("<SAMPLES>5,0</SAMPLES>\r\n0,0\r\n</K390>", false);
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Reply line 2, stamp 2: '$' is not a valid integer value");
  }
}

TEST(DecodeLoadedList, StoresValuesFromIndexOneAndCountsOneMore) {
  PulseData data;
  data.Ch2Intervals[2] = 99;
  DecodeLoadedList("5,-7,2147483647", data);
  EXPECT_EQ(data.Ch1Count, 4);
  EXPECT_EQ(data.Ch2Count, 0);
  EXPECT_EQ(data.Ch1Intervals[1], 5);
  EXPECT_EQ(data.Ch1Intervals[2], -7);
  EXPECT_EQ(data.Ch1Intervals[3], 2147483647);
  EXPECT_EQ(data.Ch2Intervals[2], 0);
  EXPECT_DOUBLE_EQ(data.Ch1Average, 5 - 7 + 2147483647.0);

  PulseData trailing;
  DecodeLoadedList("1,2,", trailing);  // a final comma adds no value
  EXPECT_EQ(trailing.Ch1Count, 3);
}

TEST(DecodeLoadedList, KeepsTheFirst5000ValuesButChecksEveryValue) {
  PulseData data;
  DecodeLoadedList(Join(Concat(Repeat(40000, 5000), Repeat(7, 3))), data);
  EXPECT_EQ(data.Ch1Count, 5001);
  EXPECT_DOUBLE_EQ(data.Ch1Average, 5000 * 40000.0);
  EXPECT_EQ(data.Ch1Intervals[5000], 40000);
  EXPECT_EQ(data.Ch2Intervals[0], 0);  // nothing spilled past the first array

  PulseData bad;
  EXPECT_THROW(DecodeLoadedList(Join(Repeat(40000, 6000)) + ",x", bad), common::Error);
  EXPECT_EQ(bad.Ch1Count, 0);
}

}  // namespace
}  // namespace analysis
