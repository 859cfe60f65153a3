#include "analysis/histogram.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace analysis {
namespace {

using acquisition::PulseData;

PulseData WithAverage(const std::vector<double>& intervals, double average) {
  PulseData data;
  for (size_t i = 0; i < intervals.size(); ++i) data.Ch1Intervals[i + 1] = intervals[i];
  data.Ch1Count = static_cast<int64_t>(intervals.size()) + 1;
  data.Ch1Average = average;
  return data;
}

int Total(const HistogramBars& bars) {
  return std::accumulate(bars.counts.begin(), bars.counts.end(), 0);
}

TEST(Histogram, IntervalsFallInTheBarNearestThem) {
  struct Case {
    double interval;
    int bar;  // -1: outside the counted band
  };
  // Average 40000 and 10 %: the band runs from 36000 to 44000 in bars of 40 ticks.
  const std::vector<Case> cases = {
      {36000, 0},   {40000, 100}, {43960, 199}, {43990, -1}, {44000, -1}, {35970, -1},
      {35980, 0},  // half a bar below lo is a tie: it rounds to the even bar 0
      {43979, 199}, {43980, -1},  {36020, 0},   {36021, 1},  {1e12, -1},  {-1e12, -1},
  };
  for (const Case& c : cases) {
    const HistogramBars bars = ComputeHistogram(WithAverage({c.interval}, 40000), 10, 100);
    if (c.bar < 0) {
      EXPECT_EQ(Total(bars), 0) << c.interval;
    } else {
      EXPECT_EQ(bars.counts[static_cast<size_t>(c.bar)], 1) << c.interval;
      EXPECT_EQ(Total(bars), 1) << c.interval;
    }
  }
}

TEST(Histogram, LabelsGiveTheFrequencyAtTheCentreOfEachBar) {
  const HistogramBars bars = ComputeHistogram(WithAverage({40000}, 40000), 10, 100);
  EXPECT_EQ(bars.labels[0], "1111.1");    // 4e7 / 36000
  EXPECT_EQ(bars.labels[100], "1000.0");  // 4e7 / 40000
  EXPECT_EQ(bars.labels[199], "909.9");   // 4e7 / 43960
  EXPECT_EQ(bars.labels[1], "1109.9");    // 4e7 / 36040
}

TEST(Histogram, EqualIntervalsAllLandInTheMiddleBar) {
  const HistogramBars bars =
      ComputeHistogram(WithAverage(std::vector<double>(250, 12345), 12345), 3, 50);
  EXPECT_EQ(bars.counts[100], 250);
  EXPECT_EQ(Total(bars), 250);
  EXPECT_EQ(bars.axis_maximum, 51);  // the axis follows SEsamples, not the data
}

TEST(Histogram, ABandOfNoWidthCountsNothing) {
  for (int64_t scale : {0, -5}) {
    const HistogramBars bars = ComputeHistogram(WithAverage({40000, 40000}, 40000), scale, 10);
    EXPECT_EQ(Total(bars), 0) << scale;
  }
  const HistogramBars zero = ComputeHistogram(WithAverage({40000}, 40000), 0, 10);
  for (const std::string& label : zero.labels) EXPECT_EQ(label, "1000.0");
}

TEST(Histogram, AWideTickBandLabelsNonPositiveIntervalsWithZero) {
  // 1000 % of 40000: lo is -360000, so the left half of the bars sits at or below 0 ticks.
  const HistogramBars bars = ComputeHistogram(WithAverage({40000}, 40000), 1000, 10);
  EXPECT_EQ(bars.labels[0], "0.0");
  EXPECT_EQ(bars.labels[90], "0.0");  // exactly 0 ticks
  EXPECT_EQ(bars.labels[100], "1000.0");
  EXPECT_EQ(bars.counts[100], 1);
}

TEST(Histogram, CountsStopAtTheEndOfTheArrays) {
  PulseData data;
  for (size_t i = 1; i <= 5000; ++i) data.Ch1Intervals[i] = 40000;
  data.Ch2Intervals[0] = 40000;  // would be counted if slot 5001 were read
  data.Ch1Count = 9000;
  data.Ch1Average = 40000;
  EXPECT_EQ(Total(ComputeHistogram(data, 10, 10)), 5000);
}

}  // namespace
}  // namespace analysis
