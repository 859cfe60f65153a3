#include "presentation/chart_maths.h"

#include <cmath>

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

}  // namespace presentation
