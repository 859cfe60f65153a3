#include "presentation/spectrum_chart.h"

#include <QPointer>
#include <vector>

#include "presentation/plot_axis.h"
#include "presentation/view_text.h"

namespace presentation {

struct SpectrumChart::Impl {
  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  QCPGraph* curve = nullptr;
  QCPGraph* lines = nullptr;
  std::vector<QCPItemText*> labels;  // kLabelledLines of them, hidden when unused

  // Beside their lines, clear of each other and of the legend: the boxes are worked out in
  // pixels of the chart as laid out now, so the plot is laid out first.
  void PlaceLabels(const SpectrumView& view) {
    const size_t shown = view.valid ? std::min(labels.size(), view.spectrum.lines.size()) : 0;
    for (size_t k = shown; k < labels.size(); ++k) labels[k]->setVisible(false);
    if (shown == 0) return;
    plot->replot(QCustomPlot::rpImmediateRefresh);
    std::vector<LabelBox> points;
    for (size_t k = 0; k < shown; ++k) {
      QCPItemText* label = labels[k];
      const analysis::SpectrumLine& line = view.spectrum.lines[k];
      label->setText(QString::fromStdString(LineLabel(line)));
      const QMargins pad = label->padding();
      const QSize size = QFontMetrics(label->font()).size(0, label->text());
      points.push_back({plot->xAxis->coordToPixel(line.freq_hz),
                        plot->yAxis->coordToPixel(line.amplitude_s * kNsPerSecond),
                        double(size.width() + pad.left() + pad.right() + 2),
                        double(size.height() + pad.top() + pad.bottom() + 2)});
    }
    const QRect area = plot->axisRect()->rect();
    const QRect legend = plot->legend->outerRect();
    const std::vector<LabelBox> boxes = presentation::PlaceLabels(
        points,
        {double(area.left()), double(area.top()), double(area.width()), double(area.height())},
        {{double(legend.left()), double(legend.top()), double(legend.width()),
          double(legend.height())}});
    for (size_t k = 0; k < shown; ++k) {
      labels[k]->position->setCoords(plot->xAxis->pixelToCoord(boxes[k].left),
                                     plot->yAxis->pixelToCoord(boxes[k].top));
      labels[k]->setVisible(true);
    }
  }
};

SpectrumChart::SpectrumChart(QWidget* parent) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.plot = NewTitledPlot(parent, QString::fromStdString(SpectrumTitle({})), &d.title);
  QCustomPlot* plot = d.plot;
  plot->xAxis->setLabel(QStringLiteral("Frequency (Hz)"));
  plot->yAxis->setLabel(QStringLiteral("TIE amplitude (ns)"));
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) SetLogAxis(axis);
  d.curve = plot->addGraph();
  d.curve->setName(QStringLiteral("TIE amplitude"));
  d.curve->setPen(QPen(QColor(0, 0, 200), 1));
  d.lines = plot->addGraph();
  d.lines->setName(QStringLiteral("Periodic lines"));
  d.lines->setLineStyle(QCPGraph::lsNone);
  d.lines->setPen(QPen(QColor(200, 0, 0), 2));
  d.lines->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 9));
  // The top decade is left free for the labels; the lowest frequencies rarely hold a line.
  plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
  for (size_t k = 0; k < kLabelledLines; ++k) {
    auto* label = new QCPItemText(plot);
    label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(PixelFont(11));
    label->setColor(QColor(150, 0, 0));
    label->setBrush(QColor(255, 255, 225, 220));
    label->setPen(QPen(Qt::gray));
    label->setPadding(QMargins(3, 1, 3, 1));
    label->setVisible(false);
    d.labels.push_back(label);
  }
}

SpectrumChart::~SpectrumChart() { delete impl_->plot; }

QWidget* SpectrumChart::Widget() const { return impl_->plot; }
QString SpectrumChart::Title() const { return impl_->title->text(); }

void SpectrumChart::Show(const SpectrumView& view, const QString& scope) {
  Impl& d = *impl_;
  QString title = QString::fromStdString(SpectrumTitle(view));
  if (!scope.isEmpty()) title += QStringLiteral("  [") + scope + QLatin1Char(']');
  d.title->setText(title);
  QVector<double> line_hz, line_ns;
  if (view.valid) {
    for (const analysis::SpectrumLine& line : view.spectrum.lines) {
      line_hz.push_back(line.freq_hz);
      line_ns.push_back(line.amplitude_s * kNsPerSecond);
    }
  }
  d.curve->setData(QVector<double>(view.freq_hz.begin(), view.freq_hz.end()),
                   QVector<double>(view.amplitude_ns.begin(), view.amplitude_ns.end()), true);
  d.lines->setData(line_hz, line_ns, true);
  // The axes hold the curve and the lines, with room above the strongest for its label.
  std::vector<double> ys(view.amplitude_ns.begin(), view.amplitude_ns.end());
  ys.insert(ys.end(), line_ns.begin(), line_ns.end());
  const AxisRange x = LogDecades(view.freq_hz);
  AxisRange y = LogDecades(ys);
  if (!line_ns.isEmpty()) y.maximum *= 10;
  d.plot->xAxis->setRange(x.minimum, x.maximum);
  d.plot->yAxis->setRange(y.minimum, y.maximum);
  d.PlaceLabels(view);
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

int SpectrumChart::PointCount() const { return impl_->curve->data()->size(); }
int SpectrumChart::LineCount() const { return impl_->lines->data()->size(); }

QStringList SpectrumChart::LabelTexts() const {
  QStringList texts;
  for (const QCPItemText* label : impl_->labels) {
    if (label->visible()) texts << label->text();
  }
  return texts;
}

void SpectrumChart::Replot() { impl_->plot->replot(); }

void SpectrumChart::KeepRightFree(int pixels) { presentation::KeepRightFree(impl_->plot, pixels); }

QRect SpectrumChart::PlotArea() const { return presentation::PlotArea(impl_->plot); }

}  // namespace presentation
