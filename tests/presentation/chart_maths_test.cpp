#include "presentation/chart_maths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

#include "common/error.h"
#include "presentation/chart_area_layout.h"

namespace presentation {

void PrintTo(const ColumnSpan& span, std::ostream* out) {
  *out << "x " << span.x << " rows " << span.top << ".." << span.bottom;
}

namespace {

TEST(PulseAxisLimits, FollowTheUnitsAroundTheCentre) {
  struct Case {
    double centre;
    bool percent;
    int scale;
    double minimum;
    double maximum;
  };
  const Case cases[] = {
      {40000, false, 100, 39900, 40100},  // ticks, absolute half-range
      {40000, true, 10, 36000, 44000},    // ticks, 10 % of the centre
      {1000, false, 50, 950, 1050},       // Hz
      {1000, true, 1, 990, 1010},
      {40000, true, 100, 0, 80000},  // the bottom reaches 0 (up
                                     // to rounding)
      {0, false, 10, -10, 10},
      {0, true, 50, 0, 0},
      {-100, false, 10, -110, -90},
  };
  for (const Case& c : cases) {
    const AxisRange range = PulseAxisLimits(c.centre, c.percent, c.scale);
    EXPECT_NEAR(range.minimum, c.minimum, 1e-9) << c.centre << " " << c.percent << " " << c.scale;
    EXPECT_NEAR(range.maximum, c.maximum, 1e-9) << c.centre << " " << c.percent << " " << c.scale;
  }
}

TEST(PointLabelText, IsTheIntervalFrequencyWithFourDecimals) {
  struct Case {
    double interval;
    const char* text;
  };
  const Case cases[] = {
      {40000, "1000.0000Hz"}, {0, "0.0000Hz"},       {-5, "0.0000Hz"},
      {39000, "1025.6410Hz"}, {41000, "975.6098Hz"}, {3, "13333333.3333Hz"},
      {4e7, "1.0000Hz"},      {80000, "500.0000Hz"}, {1, "40000000.0000Hz"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PointLabelText(PulseFrequency(c.interval)), c.text) << c.interval;
  }
}

TEST(AxisLimits, RefusalsKeepTheLimitsAndNameTheLimit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    bool set_minimum;
    double value;
    const char* message;  // nullptr: accepted
  };
  const Case cases[] = {
      {true, 100.5, kAxisMinimumRefused},
      {true, 100, nullptr},
      {true, -1e9, nullptr},
      {false, -100.5, kAxisMaximumRefused},
      {false, -100, nullptr},
      {false, 1e9, nullptr},
      {true, nan, kAxisMinimumRefused},
      {false, nan, kAxisMaximumRefused},
      {true, -inf, kAxisMinimumRefused},
      {false, inf, kAxisMaximumRefused},
  };
  for (const Case& c : cases) {
    AxisLimits limits(-100, 100);
    try {
      if (c.set_minimum) {
        limits.SetMinimum(c.value);
      } else {
        limits.SetMaximum(c.value);
      }
      EXPECT_EQ(c.message, nullptr) << c.value << " was accepted";
      EXPECT_EQ(c.set_minimum ? limits.Minimum() : limits.Maximum(), c.value);
    } catch (const common::Error& e) {
      ASSERT_NE(c.message, nullptr) << c.value << " was refused";
      EXPECT_STREQ(e.what(), c.message);
      EXPECT_EQ(limits.Minimum(), -100);
      EXPECT_EQ(limits.Maximum(), 100);
    }
  }
}

TEST(AxisLimits, MinimumToZeroFirstLetsAnyNonNegativeRangeThrough) {
  // From a range far above, going straight to a low maximum would be refused; the feed's order
  // (minimum 0, maximum, minimum) is not.
  AxisLimits limits(39900, 40100);
  EXPECT_THROW(limits.SetMaximum(1050), common::Error);
  limits.SetMinimum(0);
  limits.SetMaximum(1050);
  limits.SetMinimum(950);
  EXPECT_EQ(limits.Minimum(), 950);
  EXPECT_EQ(limits.Maximum(), 1050);
}

TEST(LabelStride, LeavesRoomForEveryDrawnLabel) {
  struct Case {
    int bars;
    double axis_pixels;
    double label_pixels;
    int stride;
  };
  const Case cases[] = {
      {200, 950, 14, 4},   // 4.75 px a bar: a label needs three bars, the next even stride is 4
      {200, 2000, 10, 1},  // 10 px a bar: every label fits
      {200, 400, 14, 10},  // 2 px a bar: 7 bars a label, 10 is the next that divides 100
      {200, 100, 14, 50},  // 0.5 px a bar: 28 bars, 50
      {200, 10, 14, 200},  // no room for two labels
      {1, 10, 14, 1},     {0, 950, 14, 1}, {200, 0, 14, 1},  // before the first layout
  };
  for (const Case& c : cases) {
    const int stride = LabelStride(c.bars, c.axis_pixels, c.label_pixels);
    EXPECT_EQ(stride, c.stride) << c.bars << " " << c.axis_pixels << " " << c.label_pixels;
    if (c.bars > 1 && c.axis_pixels > 0 && stride < c.bars) {
      EXPECT_GE(stride * c.axis_pixels / c.bars, c.label_pixels);
    }
  }
}

TEST(CoverPolyline, ListsEachCoveredPixelOnce) {
  const double gap = std::nan("");
  struct Case {
    const char* name;
    std::vector<Vertex> vertices;
    std::vector<ColumnSpan> spans;
    size_t long_segments;
  };
  const Case cases[] = {
      {"within one column", {{5, 10}, {5, 20}}, {{5, 10, 20}}, 0},
      {"up and down in one column", {{5, 10}, {5, 20}, {5, 15}, {5, 30}}, {{5, 10, 30}}, 0},
      {"to the next column, split at the middle row",
       {{5, 10}, {6, 20}},
       {{5, 10, 15}, {6, 15, 20}},
       0},
      {"downwards", {{5, 20}, {6, 10}}, {{5, 15, 20}, {6, 10, 15}}, 0},
      {"rounded to whole pixels", {{0.4, 1.6}, {0.6, 3.4}, {1.4, 3.0}}, {{0, 2, 2}, {1, 2, 3}}, 0},
      {"touching spans join", {{2, 0}, {2, 4}, {gap, gap}, {2, 5}, {2, 9}}, {{2, 0, 9}}, 0},
      {"a gap keeps spans apart",
       {{2, 0}, {2, 4}, {gap, gap}, {2, 8}, {2, 9}},
       {{2, 0, 4}, {2, 8, 9}},
       0},
      {"nothing across a gap",
       {{1, 0}, {2, 0}, {gap, 3}, {3, 5}, {4, 5}},
       {{1, 0, 0}, {2, 0, 0}, {3, 5, 5}, {4, 5, 5}},
       0},
      {"a long segment is left to the line drawer", {{0, 0}, {10, 10}}, {}, 1},
      {"far outside the screen", {{5, 0}, {5, 1e12}}, {}, 1},
      {"a lone vertex draws nothing", {{3, 3}}, {}, 0},
  };
  for (const Case& c : cases) {
    const PolylineCover cover = CoverPolyline(c.vertices);
    EXPECT_EQ(cover.spans, c.spans) << c.name;
    EXPECT_EQ(cover.segments.size(), c.long_segments) << c.name;
  }
}

TEST(CoverPolyline, DenseTraceIsCoveredWithoutHoles) {
  // A saw tooth with four vertices per column: every row between neighbouring vertices must be
  // in a span of its column or of the next.
  std::vector<Vertex> vertices;
  for (int x = 0; x < 50; ++x) {
    for (double y : {10.0, 40.0, 5.0, 25.0}) vertices.push_back({x + 0.1 * (y / 10), y + x % 7});
  }
  const PolylineCover cover = CoverPolyline(vertices);
  EXPECT_TRUE(cover.segments.empty());
  for (size_t i = 1; i < cover.spans.size(); ++i) {
    EXPECT_LT(cover.spans[i - 1].x, cover.spans[i].x) << "one span per column here, in order";
  }
  ASSERT_EQ(cover.spans.size(), 50u);
  for (const ColumnSpan& span : cover.spans) {
    EXPECT_LE(span.top, 5 + span.x % 7);
    EXPECT_GE(span.bottom, 40 + span.x % 7 - 1);
  }
}

TEST(PaddedRange, HoldsEveryFiniteValueWithTheMarginToSpare) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<double> values;
    double minimum;
    double maximum;
  };
  const Case cases[] = {
      {"a gap point is left out", {kNaN, -300, 100, 100}, -320, 120},
      {"all alike", {7, 7}, 6, 8},
      {"nothing drawable", {kNaN}, -1, 1},
  };
  for (const Case& c : cases) {
    const AxisRange range = PaddedRange(c.values, 0.05);
    EXPECT_DOUBLE_EQ(range.minimum, c.minimum) << c.name;
    EXPECT_DOUBLE_EQ(range.maximum, c.maximum) << c.name;
  }
}

// The initial chart area is 1045 x 626; the selector's place there is 922, 503, 91 x 75.
TEST(LayOutChartArea, SelectorKeepsItsCornerAndNoPlotReachesIt) {
  struct Case {
    QSize area;
    int items;
    bool analysis;
    QRect selector;
    int strip = 0;  // the channel strip's height
  };
  const Case cases[] = {
      {{1045, 626}, 3, false, {922, 503, 91, 75}},      // the initial layout
      {{1045, 626}, 5, true, {922, 469, 91, 109}},      // five views with the analysis
      {{1400, 900}, 4, true, {1277, 760, 91, 92}},      // a larger window: same corner distances
      {{1045, 626}, 5, true, {922, 409, 91, 109}, 60},  // the strip lifts the selector with it
      {{1045, 626}, 3, false, {922, 503, 91, 75}, 60},  // no strip without the analysis
  };
  for (const Case& c : cases) {
    const ChartAreaLayout layout = LayOutChartArea(c.area, c.items, c.analysis, c.strip);
    EXPECT_EQ(layout.selector, c.selector) << c.area.width() << " " << c.items;
    // What a plot may draw on: the charts less the right strip it keeps free, with room for
    // half of the bottom axis's last label.
    const QRect plots = layout.charts.adjusted(0, 0, -layout.plot_free_right + 12, 0);
    EXPECT_FALSE(plots.intersects(layout.selector)) << c.area.width() << " " << c.items;
    EXPECT_TRUE(layout.charts.contains(layout.selector)) << c.area.width() << " " << c.items;
    if (c.analysis) {
      // The readout, then the Run line with the window's counts at its right, under the charts.
      EXPECT_EQ(layout.run.top(), layout.readout.bottom() + 1);
      EXPECT_EQ(layout.run.bottom(), c.area.height() - 1);
      EXPECT_TRUE(layout.pulses.top() == layout.run.top() && !layout.run.intersects(layout.pulses));
      // The strip, when there is one, between the charts and the readout.
      EXPECT_EQ(layout.strip.height(), c.strip);
      EXPECT_EQ(layout.readout.top(), layout.charts.bottom() + 1 + c.strip);
      if (c.strip > 0) {
        EXPECT_EQ(layout.strip.top(), layout.charts.bottom() + 1);
      }
    } else {
      EXPECT_EQ(layout.charts.size(), c.area);
      EXPECT_TRUE(layout.strip.isEmpty());
    }
  }
}

}  // namespace
}  // namespace presentation
