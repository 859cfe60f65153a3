#pragma once

// Parts the two chart adapters share. Only the adapters include this header: it brings in the
// chart engine.
#include <qcustomplot.h>

#include <QFont>

#include "presentation/chart_maths.h"

namespace presentation {

QFont PixelFont(int pixels, bool bold = false);

// Keeps the rightmost `pixels` of the plot's widget free of its axis rectangle, the axes and
// their labels (only the last label of the bottom axis reaches half its width into them): a
// control floats there. The other margins stay automatic.
void KeepRightFree(QCustomPlot* plot, int pixels);

// Where the plot draws its data, axes and tick labels, in the plot widget's pixels as of the
// last redraw: from the left margin to the right end of the axis rectangle, from its top to the
// bottom margin.
QRect PlotArea(const QCustomPlot* plot);

// The left axis of a chart with fixed limits and the engine's refusals: a minimum above the
// maximum or a maximum below the minimum throws common::Error and leaves the limits and the
// drawn range as they were. Each accepted change is drawn at the next event-loop turn.
class FixedAxis {
 public:
  FixedAxis(QCPAxis* axis, double minimum, double maximum);

  void SetMinimum(double value);
  void SetMaximum(double value);
  double Minimum() const { return limits_.Minimum(); }
  double Maximum() const { return limits_.Maximum(); }

 private:
  void Apply();

  QCPAxis* axis_;
  AxisLimits limits_;
};

}  // namespace presentation
