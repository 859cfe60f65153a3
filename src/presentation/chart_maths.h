#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

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

// A polyline vertex in pixels; a vertex with a NaN coordinate breaks the line.
struct Vertex {
  double x = 0;
  double y = 0;
};

// Rows `top` to `bottom` (inclusive) of pixel column `x`.
struct ColumnSpan {
  int x = 0;
  int top = 0;
  int bottom = 0;
  bool operator==(const ColumnSpan&) const = default;
};

// The pixels a one-pixel polyline passes through, with vertices rounded to whole pixels: a
// segment within one column covers the rows between its ends, a segment between neighbouring
// columns covers each column up to the middle row. Spans of one column that touch or overlap are
// joined, so that no pixel is listed twice. Segments that cross more than one column boundary,
// or lie far outside any screen, are returned as they are for a general line drawer. Dense
// traces (several points per pixel column) are almost all short segments; filling their spans
// draws each pixel once where stroking the segments draws most of them several times.
struct PolylineCover {
  std::vector<ColumnSpan> spans;
  std::vector<std::pair<Vertex, Vertex>> segments;
};
PolylineCover CoverPolyline(std::span<const Vertex> vertices);

// The range of a logarithmic axis over whole decades that holds every positive finite value
// given (the others cannot be drawn on it): from the power of ten below the smallest to the one
// above the largest, one decade further where a value would sit on the frame, at least one
// decade wide; 1 .. 10 when none is drawable.
AxisRange LogDecades(std::span<const double> values);

// The range of a linear axis that holds every finite value given with `margin` (a fraction of
// their spread) left on either side, so that no extreme is drawn on the frame. Values all alike
// get 1 on either side; no finite value gives -1 .. 1.
AxisRange PaddedRange(std::span<const double> values, double margin);

// The histogram's axis titles: the count of intervals per bar, and what the bars stand for (the
// frequency of the interval at each bar's centre, over a band of plus and minus `band_percent`
// of the average interval).
struct HistogramTitles {
  std::string count;
  std::string bars;
};
HistogramTitles HistogramAxisTitles(int band_percent);

// The lengths of an error bar below and above `value` from its confidence bounds. A bound that is
// unknown, or on the wrong side of the value, draws no arm.
struct ErrorBar {
  double below = 0;
  double above = 0;
};
ErrorBar BoundsBar(double value, std::optional<double> minimum, std::optional<double> maximum);

}  // namespace presentation
