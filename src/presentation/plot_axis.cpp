#include "presentation/plot_axis.h"

namespace presentation {

QFont PixelFont(int pixels, bool bold) {
  QFont font;
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

void KeepRightFree(QCustomPlot* plot, int pixels) {
  QCPAxisRect* rect = plot->axisRect();
  rect->setAutoMargins(QCP::msLeft | QCP::msTop | QCP::msBottom);
  QMargins margins = rect->margins();
  margins.setRight(pixels);
  rect->setMargins(margins);
  plot->replot(QCustomPlot::rpQueuedReplot);
}

QRect PlotArea(const QCustomPlot* plot) {
  const QCPAxisRect* rect = plot->axisRect();
  const QRect inner = rect->rect();
  const QRect outer = rect->outerRect();
  return QRect(QPoint(outer.left(), inner.top()), QPoint(inner.right(), outer.bottom()));
}

FixedAxis::FixedAxis(QCPAxis* axis, double minimum, double maximum)
    : axis_(axis), limits_(minimum, maximum) {
  Apply();
}

void FixedAxis::SetMinimum(double value) {
  limits_.SetMinimum(value);
  Apply();
  axis_->parentPlot()->replot(QCustomPlot::rpQueuedReplot);
}

void FixedAxis::SetMaximum(double value) {
  limits_.SetMaximum(value);
  Apply();
  axis_->parentPlot()->replot(QCustomPlot::rpQueuedReplot);
}

// Fixed limits go to the axis as they are; equal limits would be an empty range, which the
// engine ignores, so they are drawn around the value instead.
void FixedAxis::Apply() {
  if (limits_.Maximum() > limits_.Minimum()) {
    axis_->setRange(limits_.Minimum(), limits_.Maximum());
  } else {
    axis_->setRange(limits_.Minimum() - 0.5, limits_.Maximum() + 0.5);
  }
}

}  // namespace presentation
