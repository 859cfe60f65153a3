#pragma once

#include <QRect>
#include <QSize>

// Where the parts of the chart area go, kept apart from the widgets so that it can be checked
// without a window. Any thread.
namespace presentation {

// The graph selector keeps the place of the initial layout relative to the chart area's lower
// right corner (922, 544 of the 1148 x 703 window, 91 x 75 for its first three items); each
// further item adds one line on top.
inline constexpr int kSelectorFromRight = 123;
inline constexpr int kSelectorFromBottom = 123;
inline constexpr int kSelectorWidth = 91;
inline constexpr int kSelectorHeight = 75;
inline constexpr int kSelectorItemHeight = 17;
// The lines under the charts that the timing analysis adds, and the width of the window's pulse
// counts, which sit at the right of the Run line beside the run's own.
inline constexpr int kReadoutLineHeight = 20;
inline constexpr int kPulseCountsWidth = 190;
// Room between the selector and what a plot draws at its right end: half the width of the last
// label of the bottom axis, which is centred on the axis end, and a few pixels to spare.
inline constexpr int kSelectorClearance = 20;

// In the chart area's pixels. Every chart takes `charts`, one in front of the others, and keeps
// its rightmost `plot_free_right` pixels free of its plot (axes, ticks and their labels), so that
// the selector, which floats there, covers no part of a chart. The selector is placed from the
// area's own corner, and with the analysis the readout and the Run line always keep their two
// lines: nothing moves when the Run line shows or goes. Without the analysis the three lines are
// empty rectangles. A strip over the readout (channel 2 and the pair of a dual block) takes its
// height from the charts, and the selector moves up with the charts' bottom edge.
struct ChartAreaLayout {
  QRect charts;
  QRect selector;
  int plot_free_right = 0;
  QRect readout;  // the timing readout, the whole width
  QRect run;      // the whole run of a stream, under the readout
  QRect pulses;   // the window's missing and extra pulses, at the right of the Run line
  QRect strip;    // over the readout, the whole width; empty without a strip
};

// The layout of an area of `area` pixels whose selector offers `selector_items` views, with or
// without the timing analysis's lines, and with a strip of `strip_height` pixels over them (the
// analysis only; 0 for none).
ChartAreaLayout LayOutChartArea(QSize area, int selector_items, bool analysis,
                                int strip_height = 0);

}  // namespace presentation
