#include "presentation/timing_charts.h"

#include <QPointer>
#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <vector>

#include "presentation/plot_axis.h"

namespace presentation {
namespace {

constexpr char kStabilityTitle[] = "K390 Stability";
constexpr double kTieMargin = 0.05;  // of the TIE's spread, above and below
constexpr int kDeviationCount = static_cast<int>(std::size(kPlottedDeviations));
const std::array<QColor, kDeviationCount> kDeviationColours = {QColor(0, 0, 200), QColor(0, 140, 0),
                                                               QColor(200, 0, 0)};

// The shown values must not swallow a click on the point beneath them.
class PassiveText : public QCPItemText {
 public:
  using QCPItemText::QCPItemText;
  double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
};

}  // namespace

struct TieChart::Impl {
  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  QCPGraph* trace = nullptr;
  QCPGraph* marks = nullptr;
};

TieChart::TieChart(QWidget* parent) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.plot = NewTitledPlot(parent, QStringLiteral("K390 Time Interval Error"), &d.title);
  d.plot->xAxis->setLabel(QStringLiteral("Pulse"));
  d.plot->yAxis->setLabel(QStringLiteral("TIE (ns)"));
  d.trace = d.plot->addGraph();
  d.trace->setName(QStringLiteral("TIE"));
  d.trace->setPen(QPen(QColor(0, 0, 200), 1));
  d.marks = d.plot->addGraph();
  d.marks->setName(QStringLiteral("Missing"));
  d.marks->setLineStyle(QCPGraph::lsNone);
  d.marks->setPen(QPen(Qt::red, 2));
  d.marks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, 11));
}

TieChart::~TieChart() { delete impl_->plot; }

QWidget* TieChart::Widget() const { return impl_->plot; }
QString TieChart::Title() const { return impl_->title->text(); }

void TieChart::Show(const TimingView& view) {
  Impl& d = *impl_;
  QVector<double> keys, values, mark_keys, mark_values;
  if (view.valid) {
    keys = QVector<double>(view.tie_index.begin(), view.tie_index.end());
    values = QVector<double>(view.tie_ns.begin(), view.tie_ns.end());
    for (const MissingMark& mark : view.missing) {
      mark_keys.push_back(static_cast<double>(mark.index));
      mark_values.push_back(mark.tie_ns);
    }
  }
  d.trace->setData(keys, values, true);
  d.marks->setData(mark_keys, mark_values, true);
  d.plot->xAxis->rescale();
  // The value axis fits the trace and the marks with a margin: a peak on the frame would be cut
  // off by it.
  values += mark_values;
  const AxisRange range = PaddedRange(
      std::span<const double>(values.constData(), static_cast<size_t>(values.size())), kTieMargin);
  d.plot->yAxis->setRange(range.minimum, range.maximum);
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

AxisRange TieChart::ValueRange() const {
  const QCPRange range = impl_->plot->yAxis->range();
  return {range.lower, range.upper};
}

int TieChart::PointCount() const { return impl_->trace->data()->size(); }
int TieChart::MarkCount() const { return impl_->marks->data()->size(); }
double TieChart::MarkIndex(int k) const { return impl_->marks->data()->at(k)->key; }
void TieChart::Replot() { impl_->plot->replot(); }
void TieChart::KeepRightFree(int pixels) { presentation::KeepRightFree(impl_->plot, pixels); }
QRect TieChart::PlotArea() const { return presentation::PlotArea(impl_->plot); }

struct StabilityChart::Impl {
  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  std::array<QCPGraph*, kDeviationCount> graphs{};
  std::array<QCPErrorBars*, kDeviationCount> bars{};
  std::array<std::vector<analysis::StabilityRow>, kDeviationCount> rows;
  PassiveText* label = nullptr;

  void ShowValues(int series, int k) {
    const analysis::StabilityRow& row = rows[static_cast<size_t>(series)][static_cast<size_t>(k)];
    label->setText(QString::fromStdString(StabilityPointText(row)));
    label->position->setCoords(row.tau_s, row.value);
    label->setVisible(true);
    plot->replot(QCustomPlot::rpQueuedReplot);
  }
};

StabilityChart::StabilityChart(QWidget* parent) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.plot = NewTitledPlot(parent, QString::fromLatin1(kStabilityTitle), &d.title);
  QCustomPlot* plot = d.plot;
  plot->xAxis->setLabel(QStringLiteral("tau (s)"));
  plot->yAxis->setLabel(QStringLiteral("Deviation"));
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) SetLogAxis(axis);
  plot->legend->setFillOrder(QCPLegend::foColumnsFirst);
  for (int s = 0; s < kDeviationCount; ++s) {
    QCPGraph* graph = plot->addGraph();
    graph->setName(
        QString::fromLatin1(analysis::DeviationName(kPlottedDeviations[s]).data()).toUpper());
    graph->setPen(QPen(kDeviationColours[static_cast<size_t>(s)], 1));
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 7));
    auto* bars = new QCPErrorBars(plot->xAxis, plot->yAxis);
    bars->removeFromLegend();
    bars->setDataPlottable(graph);
    bars->setPen(QPen(kDeviationColours[static_cast<size_t>(s)], 1));
    d.graphs[static_cast<size_t>(s)] = graph;
    d.bars[static_cast<size_t>(s)] = bars;
  }
  d.label = new PassiveText(plot);
  d.label->position->setType(QCPItemPosition::ptPlotCoords);
  d.label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
  d.label->setBrush(QColor(255, 255, 225, 230));
  d.label->setPen(QPen(Qt::gray));
  d.label->setPadding(QMargins(3, 1, 3, 1));
  d.label->setFont(PixelFont(11));
  d.label->setVisible(false);

  // An error bar belongs to its point: a click on either shows the point's values.
  QObject::connect(plot, &QCustomPlot::plottableClick, this,
                   [this](QCPAbstractPlottable* plottable, int index, QMouseEvent*) {
                     Impl& i = *impl_;
                     for (int s = 0; s < kDeviationCount; ++s) {
                       const bool ours = plottable == i.graphs[static_cast<size_t>(s)] ||
                                         plottable == i.bars[static_cast<size_t>(s)];
                       if (ours && index >= 0 &&
                           index < static_cast<int>(i.rows[static_cast<size_t>(s)].size())) {
                         i.ShowValues(s, index);
                       }
                     }
                   });
}

StabilityChart::~StabilityChart() { delete impl_->plot; }

QWidget* StabilityChart::Widget() const { return impl_->plot; }
QString StabilityChart::Title() const { return impl_->title->text(); }

void StabilityChart::Show(const std::vector<analysis::StabilityRow>& rows, const QString& title) {
  Impl& d = *impl_;
  d.title->setText(title.isEmpty() ? QString::fromLatin1(kStabilityTitle) : title);
  for (auto& series : d.rows) series.clear();
  for (const analysis::StabilityRow& row : rows) {
    for (int s = 0; s < kDeviationCount; ++s) {
      // Log axes cannot draw a value of 0 (a train without jitter).
      if (row.deviation == kPlottedDeviations[s] && row.value > 0 && row.tau_s > 0)
        d.rows[static_cast<size_t>(s)].push_back(row);
    }
  }
  std::vector<double> taus, extents;
  for (int s = 0; s < kDeviationCount; ++s) {
    QVector<double> keys, values, below, above;
    for (const analysis::StabilityRow& row : d.rows[static_cast<size_t>(s)]) {
      const ErrorBar bar = BoundsBar(row.value, row.min, row.max);
      keys.push_back(row.tau_s);
      values.push_back(row.value);
      below.push_back(bar.below);
      above.push_back(bar.above);
      taus.push_back(row.tau_s);
      extents.push_back(row.value - bar.below);
      extents.push_back(row.value + bar.above);
    }
    QCPGraph* graph = d.graphs[static_cast<size_t>(s)];
    graph->setData(keys, values, true);
    d.bars[static_cast<size_t>(s)]->setData(below, above);
    if (keys.isEmpty()) {
      graph->removeFromLegend();
    } else {
      graph->addToLegend();
    }
  }
  const AxisRange x = LogDecades(taus);
  const AxisRange y = LogDecades(extents);
  d.plot->xAxis->setRange(x.minimum, x.maximum);
  d.plot->yAxis->setRange(y.minimum, y.maximum);
  d.label->setVisible(false);
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

int StabilityChart::PointCount(int series) const {
  return impl_->graphs[static_cast<size_t>(series)]->data()->size();
}

QPoint StabilityChart::PointPosition(int series, int k) const {
  const QCPGraph* graph = impl_->graphs[static_cast<size_t>(series)];
  if (k < 0 || k >= graph->data()->size()) return {-1, -1};
  const auto it = graph->data()->at(k);
  return graph->coordsToPixels(it->key, it->value).toPoint();
}

QString StabilityChart::ShownValues() const {
  return impl_->label->visible() ? impl_->label->text() : QString();
}

void StabilityChart::Replot() { impl_->plot->replot(); }

void StabilityChart::KeepRightFree(int pixels) { presentation::KeepRightFree(impl_->plot, pixels); }

QRect StabilityChart::PlotArea() const { return presentation::PlotArea(impl_->plot); }

}  // namespace presentation
