#include "analysis/processing_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/text_forms.h"
#include "fake_pass_view.h"

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

std::vector<long long> Concat(std::vector<long long> a, const std::vector<long long>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(ProcessingPass, FourValueListFillsEveryFigureBox) {
  ProcessingPass pass;
  FakePassView view;
  pass.Run(view, "40000,40004,39996,40000", true);

  const std::vector<std::pair<Box, std::string>> expected = {
      {Box::kEsampavg, "40000"},
      {Box::kEpkpos, "+4"},
      {Box::kEpkneg, "-4"},
      {Box::kEjitpp, "8"},
      {Box::kEjitpp_pct, "0.0200"},
      {Box::kEjitpp_max, "0.0200"},
      {Box::kEjitrms, "6"},
      {Box::kEjitrms_pct, "0.0141"},
      {Box::kEint1, "0.001000000000"},
      {Box::kEfreq1, "1000.0000"},
      {Box::kEint2, "0.000000000000"},
      {Box::kEfreq2, "0.0000"},
      {Box::kLpcycles, ""},
      {Box::kEprove_err, ""},
  };
  for (const auto& [box, text] : expected) {
    EXPECT_EQ(view.BoxText(box), text) << BoxName(box);
  }
  EXPECT_FALSE(view.Wrote(Box::kEpqf));
  EXPECT_DOUBLE_EQ(pass.CentreInterval(), 40000);
  EXPECT_DOUBLE_EQ(pass.CentreFrequency(), 1000);
  EXPECT_EQ(pass.Data().Ch1Count, 5);
  EXPECT_EQ(pass.Data().Ch2Count, 0);
  EXPECT_DOUBLE_EQ(pass.Data().Ch1Average, 40000);
  EXPECT_EQ(view.left_axis_title, "Pulse-Pulse Interval (x25ns)");
  EXPECT_EQ(view.series2_title, "Ch2");
}

TEST(ProcessingPass, StepsRunInTheirOrder) {
  ProcessingPass pass;
  FakePassView view;
  pass.Run(view, "40000,40004,39996,40000", true);
  const std::vector<std::string> expected = {
      "SetLeftAxisTitle", "TimerOff",   "SetSeries2Title", "Ejitrms",  "Ejitrms_pct",
      "Esampavg",         "Ejitpp",     "Epkpos",          "Epkneg",   "Ejitpp_pct",
      "Ejitpp_max",       "FeedChart",  "Eint1",           "Efreq1",   "Eint2",
      "Efreq2",           "Eprove_err", "Lpcycles",        "EndSteps",
  };
  EXPECT_EQ(view.calls, expected);
  EXPECT_DOUBLE_EQ(view.fed_centre_interval, 40000);
  EXPECT_DOUBLE_EQ(view.fed_centre_frequency, 1000);
}

TEST(ProcessingPass, SmallListsGiveTheirFigures) {
  struct Case {
    std::string list;
    std::vector<std::pair<Box, std::string>> boxes;
    double centre;
  };
  const std::vector<Case> cases = {
      // The average 10.5 rounds to even; both deviations truncate to 0.
      {"10,11",
       {{Box::kEsampavg, "10"},
        {Box::kEjitpp, "0"},
        {Box::kEpkpos, "0"},
        {Box::kEpkneg, "0"},
        {Box::kEjitrms, "0"}},
       10.5},
      {"40000",
       {{Box::kEsampavg, "40000"}, {Box::kEjitpp, "0"}, {Box::kEpkpos, "0"}, {Box::kEjitrms, "0"}},
       40000},
      {"12,13", {{Box::kEsampavg, "12"}, {Box::kEjitpp, "0"}}, 12.5},
      {"13,14", {{Box::kEsampavg, "14"}}, 13.5},
      // Deviations -1.5 and +1.5 truncate toward zero.
      {"40000,40003", {{Box::kEpkpos, "+1"}, {Box::kEpkneg, "-1"}, {Box::kEjitpp, "2"}}, 40001.5},
      // A negative interval among positive ones still gives figures when the average is above 0.
      {"-10,30", {{Box::kEsampavg, "10"}, {Box::kEpkpos, "+20"}, {Box::kEpkneg, "-20"}}, 10},
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    FakePassView view;
    pass.Run(view, c.list, true);
    for (const auto& [box, text] : c.boxes) {
      EXPECT_EQ(view.BoxText(box), text) << c.list << " " << BoxName(box);
    }
    EXPECT_DOUBLE_EQ(pass.CentreInterval(), c.centre) << c.list;
    EXPECT_EQ(view.end_steps, 1) << c.list;
  }
}

TEST(ProcessingPass, InputsWithoutFiguresWriteNoBoxButRunTheEndSteps) {
  const std::vector<std::string> lists = {"", "0", "0,0", "-5,3", "-40000,-40000,-40000"};
  for (const std::string& list : lists) {
    ProcessingPass pass;
    FakePassView view;
    view.boxes[Box::kEsampavg] = "old";
    pass.Run(view, list, true);
    EXPECT_EQ(view.written.size(), 0u) << "'" << list << "'";
    EXPECT_EQ(view.BoxText(Box::kEsampavg), "old");
    EXPECT_EQ(view.end_steps, 1) << "'" << list << "'";
    EXPECT_EQ(view.timer_off, 1);
    EXPECT_EQ(view.chart_feeds, 0);
    EXPECT_EQ(view.histogram_builds, 0);
    EXPECT_EQ(view.calls.back(), "EndSteps");
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
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    FakePassView view;
    pass.Run(view, Join(c.values), true);
    EXPECT_DOUBLE_EQ(pass.CentreInterval(), c.centre);
    EXPECT_EQ(common::FixedText(pass.CentreFrequency(), 4), c.frequency);
    EXPECT_DOUBLE_EQ(view.fed_centre_interval, c.centre);
  }
}

TEST(ProcessingPass, PeakToPeakMaximumIsHeldUntilPeakReset) {
  ProcessingPass pass;
  FakePassView view;
  pass.Run(view, "40000,40004,39996,40000", true);  // 0.0200 %
  pass.Run(view, "40000,40002,39998,40000", true);  // 0.0100 %
  EXPECT_EQ(view.BoxText(Box::kEjitpp_pct), "0.0100");
  EXPECT_EQ(view.BoxText(Box::kEjitpp_max), "0.0200");

  pass.PeakReset(view);
  EXPECT_EQ(view.BoxText(Box::kEjitpp_max), "");
  EXPECT_EQ(view.BoxText(Box::kEpqf), "");
  EXPECT_EQ(pass.PPPercentPeak(), 0);
  EXPECT_EQ(pass.QualityPeak(), 0);

  pass.Run(view, "40000,40002,39998,40000", true);
  EXPECT_EQ(view.BoxText(Box::kEjitpp_max), "0.0100");
}

TEST(ProcessingPass, FlightTimeFigures) {
  struct Case {
    std::string eint1, eprove_ms, ejitpp_pct;
    std::string lpcycles, eprove_err;
  };
  const std::vector<Case> cases = {
      {"0.000300000000", "1", "0.0300", "(3 pulses)", "0.0100"},
      {"0.001000000000", "1", "0.0200", "(1 pulses)", "0.0200"},
      {"0.001000000000", "250", "0.0200", "(250 pulses)", "0.0001"},
      {"0.000300000000", "", "0.0300", "", ""},
      {"0.000300000000", "0", "0.0300", "", ""},
      {"0.000300000000", "-5", "0.0300", "", ""},
      {"", "1", "0.0300", "", ""},
      {"1.000000000000", "1", "0.0300", "", ""},  // under one pulse
      // An average below 0.02 ticks shows as zero seconds: no pulse count, no division by 0.
      {"0.000000000000", "1", "0.0300", "", ""},
      // More pulses than a signed 32-bit count holds.
      {"0.000000000001", "100000", "0.0300", "", ""},
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    FakePassView view;
    view.boxes[Box::kEint1] = c.eint1;
    view.boxes[Box::kEprove_ms] = c.eprove_ms;
    view.boxes[Box::kEjitpp_pct] = c.ejitpp_pct;
    view.boxes[Box::kLpcycles] = "stale";
    view.boxes[Box::kEprove_err] = "stale";
    view.boxes[Box::kEpqf] = "kept";
    pass.UpdateProveFigures(view);
    EXPECT_EQ(view.BoxText(Box::kLpcycles), c.lpcycles) << c.eint1 << " " << c.eprove_ms;
    EXPECT_EQ(view.BoxText(Box::kEprove_err), c.eprove_err) << c.eint1 << " " << c.eprove_ms;
    EXPECT_EQ(view.BoxText(Box::kEpqf), c.eprove_err.empty() ? "kept" : c.eprove_err);
  }
}

TEST(ProcessingPass, QualityPeakRisesOnlyAndClearingTheFlightTimeKeepsIt) {
  ProcessingPass pass;
  FakePassView view;
  view.boxes[Box::kEint1] = "0.000300000000";
  view.boxes[Box::kEjitpp_pct] = "0.0300";
  view.boxes[Box::kEprove_ms] = "1";
  pass.UpdateProveFigures(view);
  view.boxes[Box::kEprove_ms] = "2";  // 6 pulses: 0.0050
  pass.UpdateProveFigures(view);
  EXPECT_EQ(view.BoxText(Box::kEprove_err), "0.0050");
  EXPECT_EQ(view.BoxText(Box::kEpqf), "0.0100");
  view.boxes[Box::kEprove_ms] = "";
  pass.UpdateProveFigures(view);
  EXPECT_EQ(view.BoxText(Box::kEprove_err), "");
  EXPECT_EQ(view.BoxText(Box::kLpcycles), "");
  EXPECT_EQ(view.BoxText(Box::kEpqf), "0.0100");
  EXPECT_DOUBLE_EQ(pass.QualityPeak(), 0.01);
}

TEST(ProcessingPass, FlightTimeTextsThatAreNotNumbersRaiseTheConversionError) {
  struct Case {
    std::string eint1, eprove_ms, ejitpp_pct, message, lpcycles;
  };
  const std::vector<Case> cases = {
      // After a Load without figures: the count is shown before the percentage fails.
      {"0.000300000000", "1", "", "'' is not a valid floating point value", "(3 pulses)"},
      {"abc", "1", "0.0300", "'abc' is not a valid floating point value", ""},
      {"0.000300000000", "1x", "0.0300", "'1x' is not a valid integer value", ""},
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    FakePassView view;
    view.boxes[Box::kEint1] = c.eint1;
    view.boxes[Box::kEprove_ms] = c.eprove_ms;
    view.boxes[Box::kEjitpp_pct] = c.ejitpp_pct;
    try {
      pass.UpdateProveFigures(view);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const common::Error& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(view.BoxText(Box::kLpcycles), c.lpcycles);
    EXPECT_EQ(view.BoxText(Box::kEprove_err), "");
  }
}

TEST(ProcessingPass, FlightTimeFollowsTheFiguresOfThePass) {
  ProcessingPass pass;
  FakePassView view;
  view.boxes[Box::kEprove_ms] = "1";
  pass.Run(view, Join(Concat(Repeat(12000, 3), {12006, 11994, 12000})), true);
  // 0.000300000000 s per pulse, P-P 12 ticks of 12000: 0.1000 % over 3 pulses.
  EXPECT_EQ(view.BoxText(Box::kEint1), "0.000300000000");
  EXPECT_EQ(view.BoxText(Box::kEjitpp_pct), "0.1000");
  EXPECT_EQ(view.BoxText(Box::kLpcycles), "(3 pulses)");
  EXPECT_EQ(view.BoxText(Box::kEprove_err), "0.0333");
  EXPECT_EQ(view.BoxText(Box::kEpqf), "0.0333");
}

TEST(ProcessingPass, AConversionErrorEndsThePassAfterItsEndSteps) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"40000,abc,40000", "'abc' is not a valid integer value"},
      {"40000,,40000", "'' is not a valid integer value"},
      {"40000, 40000", "' 40000' is not a valid integer value"},
      {"2147483648", "'2147483648' is not a valid integer value"},
  };
  for (const auto& [list, message] : cases) {
    ProcessingPass pass;
    FakePassView view;
    try {
      pass.Run(view, list, true);
      ADD_FAILURE() << "no error for " << list;
    } catch (const common::Error& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
    EXPECT_EQ(view.end_steps, 1) << list;
    EXPECT_TRUE(view.written.empty()) << list;
    EXPECT_EQ(view.calls.back(), "EndSteps");
  }
}

TEST(ProcessingPass, AFailingChartFeedLeavesTheLaterFieldsUnwritten) {
  ProcessingPass pass;
  FakePassView view;
  view.on_feed = [](const ChartInput&) { throw common::Error("Invalid floating point operation"); };
  EXPECT_THROW(pass.Run(view, "40000,40004,39996,40000", true), common::Error);
  EXPECT_EQ(view.BoxText(Box::kEsampavg), "40000");
  EXPECT_EQ(view.BoxText(Box::kEjitpp_max), "0.0200");
  EXPECT_FALSE(view.Wrote(Box::kEint1));
  EXPECT_FALSE(view.Wrote(Box::kEfreq1));
  EXPECT_FALSE(view.Wrote(Box::kLpcycles));
  EXPECT_EQ(view.end_steps, 1);
  EXPECT_EQ(view.calls.back(), "EndSteps");
}

TEST(ProcessingPass, TheViewDecidesTitleChartFeedAndHistogram) {
  struct Case {
    int graph_index;
    std::string title;
    int feeds, histograms;
  };
  const std::vector<Case> cases = {
      {0, "Pulse-Pulse Interval (x25ns)", 1, 0},
      {1, "Pulse Frequency (Hz)", 1, 0},
      {2, "Pulse Frequency (Hz)", 0, 1},
  };
  for (const Case& c : cases) {
    ProcessingPass pass;
    FakePassView view;
    view.graph_index = c.graph_index;
    pass.Run(view, "40000,40004", true);
    EXPECT_EQ(view.left_axis_title, c.title);
    EXPECT_EQ(view.chart_feeds, c.feeds);
    EXPECT_EQ(view.histogram_builds, c.histograms);
    EXPECT_EQ(view.calls[view.calls.size() - 1], "EndSteps");
    if (c.histograms > 0) {
      EXPECT_EQ(view.calls[view.calls.size() - 2], "BuildHistogram");
    }
  }
}

TEST(ProcessingPass, TheFilterRunsOnlyOnAnEnabledUncheckedDualBoxWithABuiltTable) {
  struct Case {
    bool dual_enabled_unchecked;
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
    ProcessingPass pass;
    if (c.length > 0) pass.Filter().SetLength(c.length);
    FakePassView view;
    view.dual_enabled_unchecked = c.dual_enabled_unchecked;
    pass.Run(view, "40000,40004,39996,40000,40008", true);
    EXPECT_EQ(view.series2_title, c.title);
    EXPECT_EQ(pass.Data().Ch2Count, c.ch2_count);
    // The smoothed trace is no channel 2 capture: its average stays 0.
    EXPECT_EQ(view.BoxText(Box::kEint2), "0.000000000000");
    if (c.title == "Filter") {
      EXPECT_DOUBLE_EQ(pass.Data().Ch2Intervals[2], 40001);
      EXPECT_DOUBLE_EQ(pass.Data().Ch2Intervals[3], 39999);
      EXPECT_DOUBLE_EQ(pass.Data().Ch2Intervals[4], 40001);
      EXPECT_EQ(pass.Data().Ch2Intervals[1], 0);
      EXPECT_EQ(pass.Data().Ch2Intervals[5], 0);
    }
  }
}

TEST(ProcessingPass, AStreamWindowIsTakenWhenNothingWasDecoded) {
  ProcessingPass pass;
  FakePassView view;
  view.stream_checked = true;
  view.stream_window = [](PulseData& data) {
    for (int i = 1; i <= 4; ++i) {
      data.Ch1Intervals[static_cast<size_t>(i)] = 40000 + (i == 2 ? 4 : i == 3 ? -4 : 0);
      data.Ch2Intervals[static_cast<size_t>(i)] = 0;
      data.Ch1Average += data.Ch1Intervals[static_cast<size_t>(i)];
    }
    data.Ch1Count = 5;
    data.Ch2Count = 0;
  };
  pass.Run(view, "", false);
  EXPECT_EQ(view.BoxText(Box::kEjitpp), "8");
  EXPECT_EQ(view.BoxText(Box::kEsampavg), "40000");

  // A loaded list supplies records itself: no window is taken.
  FakePassView loaded;
  loaded.stream_checked = true;
  loaded.stream_window = view.stream_window;
  pass.Run(loaded, "40000,40002", true);
  EXPECT_EQ(std::count(loaded.calls.begin(), loaded.calls.end(), "TakeStreamWindow"), 0);
  EXPECT_EQ(loaded.BoxText(Box::kEsampavg), "40001");
}

TEST(ProcessingPass, AFailingStreamWindowStillRunsTheEndSteps) {
  ProcessingPass pass;
  FakePassView view;
  view.stream_checked = true;
  view.stream_window = [](PulseData&) { throw common::Error("I/O error 101"); };
  EXPECT_THROW(pass.Run(view, "", false), common::Error);
  EXPECT_EQ(view.end_steps, 1);
}

TEST(ProcessingPass, CountsBeyondTheArraysAreClampedTo5001) {
  ProcessingPass pass;
  FakePassView view;
  view.stream_checked = true;
  view.stream_window = [](PulseData& data) {
    for (size_t i = 1; i <= 5000; ++i) data.Ch1Intervals[i] = 40000;
    data.Ch1Average = 5000 * 40000.0;
    data.Ch1Count = 9000;  // more records than the arrays hold
  };
  pass.Run(view, "", false);
  EXPECT_EQ(pass.Data().Ch1Count, 5001);
  EXPECT_EQ(view.BoxText(Box::kEsampavg), "40000");
  EXPECT_EQ(view.BoxText(Box::kEjitpp), "0");
}

TEST(ProcessingPass, DeviationsBeyondTheSquareRangeOfSixtyFourBitsStillGiveFigures) {
  // Nine 1-tick deltas and one near 2^32: the large deviation squared exceeds 2^63.
  ProcessingPass pass;
  FakePassView view;
  view.stream_checked = true;
  view.stream_window = [](PulseData& data) {
    for (size_t i = 1; i <= 9; ++i) data.Ch1Intervals[i] = 1;
    data.Ch1Intervals[10] = 4294967295.0;
    data.Ch1Average = 9 + 4294967295.0;
    data.Ch1Count = 11;
  };
  pass.Run(view, "", false);
  EXPECT_EQ(view.BoxText(Box::kEpkpos), "+3865470564");
  EXPECT_EQ(view.BoxText(Box::kEpkneg), "-429496729");
  EXPECT_EQ(view.BoxText(Box::kEjitpp), "4294967293");
  EXPECT_EQ(view.BoxText(Box::kEjitrms), "2576980376");
  EXPECT_EQ(view.BoxText(Box::kEjitrms_pct), "600.0000");
  EXPECT_EQ(view.BoxText(Box::kEjitpp_pct), "1000.0000");
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
  FakePassView view;
  pass.Run(view, kDualReply, false);
  const std::vector<std::pair<Box, std::string>> expected = {
      {Box::kEsampavg, "40000"},
      {Box::kEjitpp, "8"},
      {Box::kEpkpos, "+4"},
      {Box::kEpkneg, "-4"},
      {Box::kEint1, "0.001000000000"},
      {Box::kEfreq1, "1000.0000"},
      {Box::kEint2, "0.000500000000"},
      {Box::kEfreq2, "2000.0000"},
  };
  for (const auto& [box, text] : expected) {
    EXPECT_EQ(view.BoxText(box), text) << BoxName(box);
  }
  EXPECT_DOUBLE_EQ(pass.Data().Ch2Average, 20000);
  ASSERT_EQ(pass.Memo().size(), 8u);
  EXPECT_EQ(pass.Memo().back(), "5");
  EXPECT_EQ(view.end_steps, 1);

  // The next pass starts from an empty log.
  FakePassView again;
  pass.Run(again, "", false);
  EXPECT_EQ(pass.Memo(), std::vector<std::string>{"0"});
}

TEST(ProcessingPass, ARemovedOrIncompleteReplyOnlyRetitlesTheAxis) {
  const std::vector<std::string> replies = {
      "",                                                  // removed by the receive handler
      "<K390>\r\n<SAMPLES>5,0</SAMPLES>\r\n</K390>",       // no header on the first line
      "<K390><SAMPLES>0,0</SAMPLES>\r\n0,0,0\r\n</K390>",  // both counts 0
  };
  for (const std::string& reply : replies) {
    ProcessingPass pass;
    FakePassView view;
    view.graph_index = 1;
    pass.Run(view, reply, false);
    const std::vector<std::string> expected = {"SetLeftAxisTitle", "TimerOff", "EndSteps"};
    EXPECT_EQ(view.calls, expected) << reply;
    EXPECT_EQ(view.left_axis_title, "Pulse Frequency (Hz)");
  }
}

TEST(ProcessingPass, AReplyThatEndsEarlyTakesNoStreamWindow) {
  ProcessingPass pass;
  FakePassView view;
  view.stream_checked = true;
  pass.Run(view, "\r\n", false);  // a stray CR in the TCP stream bytes
  EXPECT_EQ(std::count(view.calls.begin(), view.calls.end(), "TakeStreamWindow"), 0);
  EXPECT_EQ(view.end_steps, 1);
}

TEST(ProcessingPass, AMalformedReplyRaisesAfterTheEndSteps) {
  ProcessingPass pass;
  FakePassView view;
  try {
    pass.Run(view, "<SAMPLES>5,0</SAMPLES>\r\n0,0\r\n</K390>", false);
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "'$' is not a valid integer value");
  }
  EXPECT_EQ(view.end_steps, 1);
  EXPECT_TRUE(view.written.empty());
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

TEST(BoxName, NamesTheWindowsControls) {
  const std::vector<std::pair<Box, std::string>> names = {
      {Box::kEsampavg, "Esampavg"},
      {Box::kEpkpos, "Epkpos"},
      {Box::kEpkneg, "Epkneg"},
      {Box::kEjitpp, "Ejitpp"},
      {Box::kEjitpp_pct, "Ejitpp_pct"},
      {Box::kEjitpp_max, "Ejitpp_max"},
      {Box::kEjitrms, "Ejitrms"},
      {Box::kEjitrms_pct, "Ejitrms_pct"},
      {Box::kEint1, "Eint1"},
      {Box::kEfreq1, "Efreq1"},
      {Box::kEint2, "Eint2"},
      {Box::kEfreq2, "Efreq2"},
      {Box::kLpcycles, "Lpcycles"},
      {Box::kEprove_err, "Eprove_err"},
      {Box::kEpqf, "Epqf"},
      {Box::kEprove_ms, "Eprove_ms"},
  };
  for (const auto& [box, name] : names) EXPECT_EQ(BoxName(box), name);
}

}  // namespace
}  // namespace analysis
