#include "presentation/chart_maths.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/error.h"

namespace presentation {
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
      {40000, true, 100, 0, 80000},       // the bottom reaches 0 (up to rounding)
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
      {40000, "1000.0000Hz"}, {0, "0.0000Hz"},        {-5, "0.0000Hz"},
      {39000, "1025.6410Hz"}, {41000, "975.6098Hz"},  {3, "13333333.3333Hz"},
      {4e7, "1.0000Hz"},      {80000, "500.0000Hz"},  {1, "40000000.0000Hz"},
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
      {true, 100.5, kAxisMinimumRefused}, {true, 100, nullptr},  {true, -1e9, nullptr},
      {false, -100.5, kAxisMaximumRefused}, {false, -100, nullptr}, {false, 1e9, nullptr},
      {true, nan, kAxisMinimumRefused},   {false, nan, kAxisMaximumRefused},
      {true, -inf, kAxisMinimumRefused},  {false, inf, kAxisMaximumRefused},
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
      {200, 950, 14, 4},    // 4.75 px a bar: a label needs three bars, the next even stride is 4
      {200, 2000, 10, 1},   // 10 px a bar: every label fits
      {200, 400, 14, 10},   // 2 px a bar: 7 bars a label, 10 is the next that divides 100
      {200, 100, 14, 50},   // 0.5 px a bar: 28 bars, 50
      {200, 10, 14, 200},   // no room for two labels
      {1, 10, 14, 1},
      {0, 950, 14, 1},
      {200, 0, 14, 1},      // before the first layout
  };
  for (const Case& c : cases) {
    const int stride = LabelStride(c.bars, c.axis_pixels, c.label_pixels);
    EXPECT_EQ(stride, c.stride) << c.bars << " " << c.axis_pixels << " " << c.label_pixels;
    if (c.bars > 1 && c.axis_pixels > 0 && stride < c.bars) {
      EXPECT_GE(stride * c.axis_pixels / c.bars, c.label_pixels);
    }
  }
}

}  // namespace
}  // namespace presentation
