#include "presentation/chart_area_layout.h"

#include <algorithm>

namespace presentation {

ChartAreaLayout LayOutChartArea(QSize area, int selector_items, bool analysis, int strip_height) {
  const int width = std::max(0, area.width());
  const int height = std::max(0, area.height());
  ChartAreaLayout layout;
  const int lines = analysis ? 2 * kReadoutLineHeight : 0;
  const int strip = analysis ? std::clamp(strip_height, 0, std::max(0, height - lines)) : 0;
  layout.charts = QRect(0, 0, width, std::max(0, height - lines - strip));
  if (strip > 0) layout.strip = QRect(4, layout.charts.height(), std::max(0, width - 8), strip);
  if (analysis) {
    const int readout_top = layout.charts.height() + strip;
    const int run_top = readout_top + kReadoutLineHeight;
    layout.readout = QRect(4, readout_top, std::max(0, width - 8), kReadoutLineHeight);
    layout.run = QRect(4, run_top, std::max(0, width - kPulseCountsWidth - 8), kReadoutLineHeight);
    layout.pulses =
        QRect(width - kPulseCountsWidth - 4, run_top, kPulseCountsWidth, kReadoutLineHeight);
  }
  const int extra_items = std::max(0, selector_items - 3);
  const int selector_height = kSelectorHeight + extra_items * kSelectorItemHeight;
  const int selector_top =
      std::max(0, height - kSelectorFromBottom - extra_items * kSelectorItemHeight - strip);
  layout.selector =
      QRect(width - kSelectorFromRight, selector_top, kSelectorWidth, selector_height);
  layout.plot_free_right = kSelectorFromRight + kSelectorClearance;
  return layout;
}

}  // namespace presentation
