#include "presentation/spectrum_chart.h"

#include <QPointer>
#include <vector>

#include "presentation/plot_axis.h"

namespace presentation {
namespace {

constexpr double kNsPerSecond = 1e9;

}  // namespace

struct SpectrumChart::Impl {
  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  QCPGraph* curve = nullptr;
  QCPGraph* lines = nullptr;
  std::vector<QCPItemText*> labels;  // kLabelledLines of them, hidden when unused
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
  for (size_t k = 0; k < kLabelledLines; ++k) {
    auto* label = new QCPItemText(plot);
    label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
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
  for (size_t k = 0; k < d.labels.size(); ++k) {
    QCPItemText* label = d.labels[k];
    const bool shown = view.valid && k < view.spectrum.lines.size();
    label->setVisible(shown);
    if (!shown) continue;
    const analysis::SpectrumLine& line = view.spectrum.lines[k];
    label->setText(QString::fromStdString(LineLabel(line)));
    label->position->setCoords(line.freq_hz, line.amplitude_s * kNsPerSecond);
  }
  // The axes hold the curve and the lines, with room above the strongest for its label.
  std::vector<double> ys(view.amplitude_ns.begin(), view.amplitude_ns.end());
  ys.insert(ys.end(), line_ns.begin(), line_ns.end());
  const AxisRange x = LogDecades(view.freq_hz);
  AxisRange y = LogDecades(ys);
  if (!line_ns.isEmpty()) y.maximum *= 10;
  d.plot->xAxis->setRange(x.minimum, x.maximum);
  d.plot->yAxis->setRange(y.minimum, y.maximum);
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

}  // namespace presentation
