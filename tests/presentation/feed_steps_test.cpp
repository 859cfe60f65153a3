#include "presentation/feed_steps.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/error.h"

namespace presentation {
namespace {

// A chart that keeps what the feed gives it and logs the steps that are not point additions, so
// the order of the axis and series steps can be checked. It refuses inside-out limits the way
// the chart engine does.
class RecordingChart {
 public:
  struct Point {
    double value;
    std::string label;
    bool label_visible;
  };

  void SetLeftAxisMinimum(double value) {
    log.push_back("min " + std::to_string(value));
    limits.SetMinimum(value);
  }
  void SetLeftAxisMaximum(double value) {
    log.push_back("max " + std::to_string(value));
    limits.SetMaximum(value);
  }
  void SetLineWidth(int series, int width) {
    log.push_back("width " + std::to_string(series) + " " + std::to_string(width));
  }
  void ClearSeries(int series) {
    log.push_back("clear " + std::to_string(series));
    points[series].clear();
  }
  void AddPoint(int series, double value) { points[series].push_back({value, "", true}); }
  void AddNullPoint(int series) { AddPoint(series, std::nan("")); }
  void AppendPointLabel(int series, int k, const std::string& line) {
    ASSERT_LT(k, static_cast<int>(points[series].size()));
    points[series][k].label += line;
  }
  void SetPointLabelVisible(int series, int k, bool visible) {
    ASSERT_LT(k, static_cast<int>(points[series].size()));
    points[series][k].label_visible = visible;
  }

  AxisLimits limits{-100, 100};
  std::vector<std::string> log;
  std::array<std::vector<Point>, 3> points;
};

// Five intervals with a zero and a negative one on each channel.
std::unique_ptr<acquisition::PulseData> FiveIntervals(bool with_ch2) {
  auto data = std::make_unique<acquisition::PulseData>();
  const double ch1[] = {40000, 0, 39000, -5, 41000};
  const double ch2[] = {40000, 0, 38000, 42000, -1};
  for (int i = 1; i <= 5; ++i) {
    data->Ch1Intervals[i] = ch1[i - 1];
    data->Ch2Intervals[i] = ch2[i - 1];
  }
  data->Ch1Count = 6;
  data->Ch2Count = with_ch2 ? 6 : 0;
  return data;
}

TEST(FeedPulseSteps, AxisAndSeriesStepsComeFirstAndInOrder) {
  auto data = FiveIntervals(true);
  RecordingChart chart;
  FeedPulseSteps(chart, {data.get(), 40000, 1000}, true, false, 100);
  const std::vector<std::string> expected = {"min 0.000000", "max 40100.000000", "min 39900.000000",
                                             "width 0 2",    "width 2 2",        "clear 0",
                                             "clear 1",      "clear 2"};
  EXPECT_EQ(chart.log, expected);
  EXPECT_EQ(chart.limits.Minimum(), 39900);
  EXPECT_EQ(chart.limits.Maximum(), 40100);
}

TEST(FeedPulseSteps, PointsFollowTheView) {
  struct Case {
    bool interval_view;
    bool with_ch2;
    std::vector<double> ch1;
    std::vector<double> average;
    std::vector<double> ch2;  // NaN for a gap
  };
  const double gap = std::nan("");
  const double f39000 = 1 / (39000 * 2.5e-8);
  const double f41000 = 1 / (41000 * 2.5e-8);
  const Case cases[] = {
      {true,
       true,
       {40000, 0, 39000, -5, 41000},
       {40000, 40000, 40000, 40000, 40000},
       {40000, gap, 38000, 42000, gap}},
      {false,
       true,
       {1000, 0, f39000, 0, f41000},
       {1000, 1000, 1000, 1000, 1000},
       {1000, gap, 1 / (38000 * 2.5e-8), 1 / (42000 * 2.5e-8), gap}},
      {true, false, {40000, 0, 39000, -5, 41000}, {40000, 40000, 40000, 40000, 40000}, {}},
  };
  for (const Case& c : cases) {
    auto data = FiveIntervals(c.with_ch2);
    RecordingChart chart;
    // Leftovers of an earlier feed must go.
    chart.points[2].push_back({7, "old", true});
    FeedPulseSteps(chart, {data.get(), 40000, 1000}, c.interval_view, false, 100);
    SCOPED_TRACE(c.interval_view ? "interval view" : "frequency view");
    ASSERT_EQ(chart.points[0].size(), c.ch1.size());
    ASSERT_EQ(chart.points[1].size(), c.average.size());
    ASSERT_EQ(chart.points[2].size(), c.ch2.size());
    for (size_t k = 0; k < c.ch1.size(); ++k) {
      EXPECT_DOUBLE_EQ(chart.points[0][k].value, c.ch1[k]) << k;
      EXPECT_DOUBLE_EQ(chart.points[1][k].value, c.average[k]) << k;
      EXPECT_FALSE(chart.points[0][k].label_visible) << k;
    }
    for (size_t k = 0; k < c.ch2.size(); ++k) {
      if (std::isnan(c.ch2[k])) {
        EXPECT_TRUE(std::isnan(chart.points[2][k].value)) << k;
      } else {
        EXPECT_DOUBLE_EQ(chart.points[2][k].value, c.ch2[k]) << k;
      }
    }
    // Labels are frequencies in both views.
    const char* labels[] = {"1000.0000Hz", "0.0000Hz", "1025.6410Hz", "0.0000Hz", "975.6098Hz"};
    for (size_t k = 0; k < 5; ++k) EXPECT_EQ(chart.points[0][k].label, labels[k]) << k;
  }
}

TEST(FeedPulseSteps, NegativeCentreIsRefusedBeforeAnySeriesIsTouched) {
  auto data = FiveIntervals(true);
  RecordingChart chart;
  FeedPulseSteps(chart, {data.get(), 40000, 1000}, true, false, 100);
  struct Case {
    double centre;
    bool percent;
    int scale;
  };
  const Case cases[] = {{-50000, false, 100}, {-40000, true, 10}};
  for (const Case& c : cases) {
    try {
      FeedPulseSteps(chart, {data.get(), c.centre, 0}, true, c.percent, c.scale);
      ADD_FAILURE() << c.centre << " was accepted";
    } catch (const common::Error& e) {
      EXPECT_STREQ(e.what(), kAxisMaximumRefused);
    }
    EXPECT_EQ(chart.limits.Minimum(), 0);
    EXPECT_EQ(chart.limits.Maximum(), 40100);
    ASSERT_EQ(chart.points[0].size(), 5u);
    EXPECT_EQ(chart.points[0][2].value, 39000);
    EXPECT_EQ(chart.points[2].size(), 5u);
  }
}

TEST(FeedPulseSteps, NeverReadsPastTheEndOfTheArrays) {
  auto data = std::make_unique<acquisition::PulseData>();
  for (int i = 1; i <= acquisition::kMaxIntervals; ++i) data->Ch1Intervals[i] = 40000 + i;
  struct Case {
    int64_t count;
    size_t points;
  };
  const Case cases[] = {{acquisition::kMaxIntervals + 1, 5000},
                        {acquisition::kMaxIntervals + 500, 5000},
                        {2, 1},
                        {1, 0},
                        {0, 0}};
  for (const Case& c : cases) {
    data->Ch1Count = c.count;
    RecordingChart chart;
    FeedPulseSteps(chart, {data.get(), 40000, 1000}, true, false, 100);
    EXPECT_EQ(chart.points[0].size(), c.points) << c.count;
    EXPECT_EQ(chart.points[1].size(), c.points) << c.count;
    if (c.points == 5000) {
      EXPECT_EQ(chart.points[0].back().value, 45000);
    }
  }
}

}  // namespace
}  // namespace presentation
