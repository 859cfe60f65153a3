#pragma once

#include <string>

// The chart maths, kept free of the chart engine so that it can be checked without a window.
// Any thread may call these functions.
namespace presentation {

struct AxisRange {
  double minimum = 0;
  double maximum = 0;
};

// Left-axis limits of the pulse chart around the centre value of the view (ticks in the interval
// view, Hz in the frequency view). In Bits/Hz units `scale` is an absolute half-range, in percent
// units a half-range in percent of the centre.
AxisRange PulseAxisLimits(double centre, bool percent_units, int scale);

// The pulse frequency in Hz of an interval in ticks; 0 for an interval of 0 or below.
double PulseFrequency(double interval_ticks);

// The point label of a pulse: its frequency with 4 decimals followed by "Hz" ("1000.0000Hz").
std::string PointLabelText(double frequency_hz);

inline constexpr const char* kAxisMinimumRefused = "Axis Minimum Value must be <= Maximum";
inline constexpr const char* kAxisMaximumRefused = "Axis Maximum Value must be >= Minimum";

// A fixed axis range that refuses to turn inside out: a minimum above the maximum or a maximum
// below the minimum throws common::Error and leaves the limits as they were. Values that are not
// finite are refused the same way, since they would leave the axis without a usable range.
class AxisLimits {
 public:
  AxisLimits(double minimum, double maximum) : minimum_(minimum), maximum_(maximum) {}

  void SetMinimum(double value);
  void SetMaximum(double value);
  double Minimum() const { return minimum_; }
  double Maximum() const { return maximum_; }

 private:
  double minimum_;
  double maximum_;
};

// How many bar labels to step over between two drawn ones so that labels about `label_pixels`
// wide do not overlap on an axis `axis_pixels` long carrying `bar_count` bars: the smallest of
// 1, 2, 4, 5, 10, 20, 25, 50, 100 that leaves room, else `bar_count` (only the first label).
int LabelStride(int bar_count, double axis_pixels, double label_pixels);

}  // namespace presentation
