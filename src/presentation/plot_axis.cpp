#include "presentation/plot_axis.h"

namespace presentation {

QFont PixelFont(int pixels, bool bold) {
  QFont font;
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QCustomPlot* NewTitledPlot(QWidget* parent, const QString& title, QCPTextElement** title_element) {
  auto* plot = new QCustomPlot(parent);
  plot->setInteractions(QCP::Interactions());
  plot->plotLayout()->insertRow(0);
  *title_element = new QCPTextElement(plot, title, PixelFont(13, true));
  (*title_element)->setTextColor(Qt::black);
  plot->plotLayout()->addElement(0, 0, *title_element);
  plot->legend->setVisible(true);
  plot->legend->setFont(PixelFont(11));
  return plot;
}

void SetLogAxis(QCPAxis* axis) {
  axis->setScaleType(QCPAxis::stLogarithmic);
  QSharedPointer<QCPAxisTickerLog> ticker(new QCPAxisTickerLog);
  axis->setTicker(ticker);
  axis->setNumberFormat(QStringLiteral("eb"));
  axis->setNumberPrecision(0);
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
