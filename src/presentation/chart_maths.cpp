#include "presentation/chart_maths.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

#include "common/error.h"
#include "common/text_forms.h"

namespace presentation {

AxisRange PulseAxisLimits(double centre, bool percent_units, int scale) {
  const double v = scale;
  if (percent_units) {
    return {centre - v * (centre / 100), centre + v * (centre / 100)};
  }
  return {centre - v, centre + v};
}

double PulseFrequency(double interval_ticks) {
  return interval_ticks > 0 ? 1 / (interval_ticks * 2.5e-8) : 0;
}

std::string PointLabelText(double frequency_hz) {
  return common::FixedText(frequency_hz, 4) + "Hz";
}

void AxisLimits::SetMinimum(double value) {
  if (!std::isfinite(value) || value > maximum_) throw common::Error(kAxisMinimumRefused);
  minimum_ = value;
}

void AxisLimits::SetMaximum(double value) {
  if (!std::isfinite(value) || value < minimum_) throw common::Error(kAxisMaximumRefused);
  maximum_ = value;
}

int LabelStride(int bar_count, double axis_pixels, double label_pixels) {
  if (bar_count <= 1 || !(axis_pixels > 0) || !(label_pixels > 0)) return 1;
  const double needed = label_pixels / (axis_pixels / bar_count);
  // Strides that divide 100 keep the centre bar of a 200-bar histogram labelled.
  for (int stride : {1, 2, 4, 5, 10, 20, 25, 50, 100}) {
    if (stride >= needed) return stride;
  }
  return bar_count;
}

PolylineCover CoverPolyline(std::span<const Vertex> vertices) {
  // Beyond this the coordinates stop being screen pixels; the general drawer clips them.
  constexpr double kFar = 1e7;
  auto usable = [](const Vertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::abs(v.x) < kFar && std::abs(v.y) < kFar;
  };
  PolylineCover cover;
  // The spans of the column being traced; the trace moves along x, so a column is complete as
  // soon as the trace leaves it.
  std::vector<std::pair<int, int>> column;
  int current = 0;
  auto flush = [&] {
    if (column.empty()) return;
    std::sort(column.begin(), column.end());
    int top = column[0].first;
    int bottom = column[0].second;
    for (size_t k = 1; k < column.size(); ++k) {
      if (column[k].first <= bottom + 1) {
        bottom = std::max(bottom, column[k].second);
      } else {
        cover.spans.push_back({current, top, bottom});
        top = column[k].first;
        bottom = column[k].second;
      }
    }
    cover.spans.push_back({current, top, bottom});
    column.clear();
  };
  auto add = [&](int x, int a, int b) {
    if (x != current) flush();
    current = x;
    column.emplace_back(std::min(a, b), std::max(a, b));
  };
  for (size_t i = 1; i < vertices.size(); ++i) {
    const Vertex& p = vertices[i - 1];
    const Vertex& q = vertices[i];
    if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(q.x) || std::isnan(q.y)) continue;
    if (!usable(p) || !usable(q)) {
      cover.segments.emplace_back(p, q);
      continue;
    }
    const int px = static_cast<int>(std::lround(p.x));
    const int py = static_cast<int>(std::lround(p.y));
    const int qx = static_cast<int>(std::lround(q.x));
    const int qy = static_cast<int>(std::lround(q.y));
    if (px == qx) {
      add(px, py, qy);
    } else if (std::abs(px - qx) == 1) {
      const int middle = (py + qy) / 2;
      add(px, py, middle);
      add(qx, middle, qy);
    } else {
      cover.segments.emplace_back(Vertex{double(px), double(py)}, Vertex{double(qx), double(qy)});
    }
  }
  flush();
  return cover;
}

AxisRange LogDecades(std::span<const double> values) {
  double low = std::numeric_limits<double>::infinity();
  double high = 0;
  for (double v : values) {
    if (!(v > 0) || !std::isfinite(v)) continue;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  if (high == 0) return {1, 10};
  // A point within a twentieth of a decade of a bound would be drawn on the frame (tau0 of a
  // 1 kHz train is a hair above 1 ms): the axis then takes one more decade on that side.
  constexpr double kMargin = 0.05;
  double first = std::floor(std::log10(low));
  if (std::log10(low) - first < kMargin) first -= 1;
  double last = std::max(first + 1, std::floor(std::log10(high)) + 1);
  if (last - std::log10(high) < kMargin) last += 1;
  return {std::pow(10.0, first), std::pow(10.0, last)};
}

AxisRange PaddedRange(std::span<const double> values, double margin) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    low = std::min(low, v);
    high = std::max(high, v);
  }
  if (low > high) return {-1, 1};
  if (low == high) return {low - 1, high + 1};
  const double pad = (high - low) * margin;
  return {low - pad, high + pad};
}

HistogramTitles HistogramAxisTitles(int band_percent) {
  return {"Intervals (count)", "Pulse Frequency (Hz) at the bar's centre, band +/-" +
                                   std::to_string(band_percent) + " % of the average interval"};
}

ErrorBar BoundsBar(double value, std::optional<double> minimum, std::optional<double> maximum) {
  ErrorBar bar;
  if (minimum && *minimum <= value) bar.below = value - *minimum;
  if (maximum && *maximum >= value) bar.above = *maximum - value;
  return bar;
}

}  // namespace presentation
