#include "analysis/smoothing_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace analysis {
namespace {

using acquisition::PulseData;

PulseData Intervals(const std::vector<double>& values) {
  PulseData data;
  for (size_t i = 0; i < values.size(); ++i) data.Ch1Intervals[i + 1] = values[i];
  data.Ch1Count = static_cast<int64_t>(values.size()) + 1;
  return data;
}

TEST(SmoothingFilter, TablesAreRaisedCosinesSummingToTheHalfLength) {
  struct Case {
    int length, half;
    std::vector<double> coefficients;
  };
  const std::vector<Case> cases = {
      {3, 2, {0.5, 1, 0.5}},
      {5, 3, {0.25, 0.75, 1, 0.75, 0.25}},
      {7, 4, {0.1464466, 0.5, 0.8535534, 1, 0.8535534, 0.5, 0.1464466}},
      {9,
       5,
       {0.0954915, 0.3454915, 0.6545085, 0.9045085, 1, 0.9045085, 0.6545085, 0.3454915, 0.0954915}},
  };
  for (const Case& c : cases) {
    SmoothingFilter filter;
    filter.SetLength(c.length);
    EXPECT_EQ(filter.FilterLength(), c.length);
    EXPECT_EQ(filter.FilterHalf(), c.half);
    EXPECT_TRUE(filter.Active());
    const auto& table = filter.FilterTable();
    for (size_t i = 0; i < c.coefficients.size(); ++i) {
      EXPECT_NEAR(table[i + 1], c.coefficients[i], 5e-8) << "L=" << c.length << " i=" << i + 1;
    }
    EXPECT_DOUBLE_EQ(table[SmoothingFilter::kSumIndex], c.half) << "L=" << c.length;
    EXPECT_EQ(table[0], 0);
  }
}

TEST(SmoothingFilter, OnlyABuiltTableForTheCurrentLengthIsActive) {
  SmoothingFilter unbuilt;  // start-up never reached its filter step
  EXPECT_EQ(unbuilt.FilterLength(), 15);
  EXPECT_EQ(unbuilt.FilterHalf(), 8);
  EXPECT_FALSE(unbuilt.Active());
  PulseData data = Intervals({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
  unbuilt.Apply(data);
  EXPECT_EQ(data.Ch2Count, 0);
  EXPECT_EQ(data.Ch2Intervals[8], 0);

  SmoothingFilter filter;
  filter.SetLength(5);
  const auto built = filter.FilterTable();
  for (int length : {0, -3}) {
    filter.SetLength(length);
    EXPECT_FALSE(filter.Active()) << length;
    EXPECT_EQ(filter.FilterTable(), built) << length;  // the table keeps its contents
  }
  filter.SetLength(102);  // does not fit the table
  EXPECT_FALSE(filter.Active());
  EXPECT_EQ(filter.FilterTable(), built);
  filter.SetLength(101);
  EXPECT_TRUE(filter.Active());
  EXPECT_DOUBLE_EQ(filter.FilterTable()[SmoothingFilter::kSumIndex], 51);
}

TEST(SmoothingFilter, ThreePointExampleLeavesTheEdgesAlone) {
  SmoothingFilter filter;
  filter.SetLength(3);
  PulseData data = Intervals({40000, 40004, 39996, 40000, 40008});
  data.Ch2Intervals[1] = -1;
  data.Ch2Intervals[5] = -5;
  filter.Apply(data);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[2], 40001);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[3], 39999);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[4], 40001);
  EXPECT_EQ(data.Ch2Intervals[1], -1);
  EXPECT_EQ(data.Ch2Intervals[5], -5);
  EXPECT_EQ(data.Ch2Count, 6);
}

TEST(SmoothingFilter, OutputsCoverHalfLengthToCountMinusHalf) {
  struct Case {
    int length;
    std::vector<double> intervals;
    std::vector<size_t> written;  // indices that receive an output
  };
  const std::vector<Case> cases = {
      {5, {10, 20, 30, 40}, {}},       // n - 2h = -1: no output
      {5, {10, 20, 30, 40, 50}, {3}},  // exactly one, from intervals 1 to 5
      {3, {10, 20}, {}},               // n - 2h = -1 again
      {3, {10, 20, 30}, {2}},
      {1, {10, 20, 30}, {1, 2, 3}},             // the single coefficient copies channel 1
      {2, {10, 20, 30, 40, 50}, {1, 2, 3, 4}},  // an even window stops at the last interval
  };
  for (const Case& c : cases) {
    SmoothingFilter filter;
    filter.SetLength(c.length);
    PulseData data = Intervals(c.intervals);
    constexpr double kUntouched = -12345;
    for (double& v : data.Ch2Intervals) v = kUntouched;
    // Slot n is past the last interval; a read of it would show in the last output.
    data.Ch1Intervals[c.intervals.size() + 1] = 1e12;
    filter.Apply(data);
    EXPECT_EQ(data.Ch2Count, data.Ch1Count);
    for (size_t i = 0; i <= c.intervals.size() + 1; ++i) {
      const bool expect_written =
          std::find(c.written.begin(), c.written.end(), i) != c.written.end();
      if (expect_written) {
        EXPECT_NE(data.Ch2Intervals[i], kUntouched) << "L=" << c.length << " i=" << i;
        EXPECT_LT(data.Ch2Intervals[i], 1e6) << "L=" << c.length << " i=" << i;
      } else {
        EXPECT_EQ(data.Ch2Intervals[i], kUntouched) << "L=" << c.length << " i=" << i;
      }
    }
  }
}

TEST(SmoothingFilter, EvenLengthWeighsTheCentreAndTheNextInterval) {
  SmoothingFilter filter;
  filter.SetLength(2);  // h = 1: coefficients 1 and 0.25
  PulseData data = Intervals({100, 200, 300});
  filter.Apply(data);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[1], (100 + 200 * 0.25) / 1.25);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[2], (200 + 300 * 0.25) / 1.25);
  EXPECT_EQ(data.Ch2Intervals[3], 0);
}

TEST(SmoothingFilter, NeverWritesOrReadsPastTheArrays) {
  SmoothingFilter filter;
  filter.SetLength(33);
  PulseData data;
  for (size_t i = 1; i <= 5000; ++i) data.Ch1Intervals[i] = 40000;
  data.Ch1Count = 9000;
  filter.Apply(data);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[17], 40000);
  EXPECT_DOUBLE_EQ(data.Ch2Intervals[5001 - 17], 40000);
  EXPECT_EQ(data.Ch2Intervals[5001 - 16], 0);
}

TEST(NormaliseFilterValue, SettlesOnAnOddValueFromThreeTo33) {
  const std::vector<std::pair<int, int>> cases = {
      {4, 5}, {50, 33}, {1, 3},  {3, 3},  {33, 33}, {34, 33}, {32, 33},
      {2, 3}, {0, 3},   {-4, 3}, {-7, 3}, {8, 9},   {9, 9},   {99, 33},
  };
  for (const auto& [value, expected] : cases) {
    EXPECT_EQ(NormaliseFilterValue(value), expected) << value;
  }
  const std::vector<std::pair<std::string, int>> texts = {
      {"", 3}, {"x", 3}, {"4", 5}, {"50", 33}, {"17", 17}, {"-", 3},
  };
  for (const auto& [text, expected] : texts) {
    EXPECT_EQ(NormaliseFilterText(text), expected) << "'" << text << "'";
  }
}

}  // namespace
}  // namespace analysis
