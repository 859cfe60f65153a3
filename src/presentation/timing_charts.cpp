#include "presentation/timing_charts.h"

#include <QPointer>
#include <array>
#include <cmath>
#include <initializer_list>
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
  QCPGraph* second = nullptr;  // made with the first second trace
  QCPGraph* second_marks = nullptr;
};

namespace {

// The trace and the missing-pulse marks of a view; an invalid view gives neither.
void SetTie(QCPGraph* trace, QCPGraph* marks, const TimingView& view) {
  QVector<double> keys, values, mark_keys, mark_values;
  if (view.valid) {
    keys = QVector<double>(view.tie_index.begin(), view.tie_index.end());
    values = QVector<double>(view.tie_ns.begin(), view.tie_ns.end());
    for (const MissingMark& mark : view.missing) {
      mark_keys.push_back(static_cast<double>(mark.index));
      mark_values.push_back(mark.tie_ns);
    }
  }
  trace->setData(keys, values, true);
  marks->setData(mark_keys, mark_values, true);
}

// The keys fit every trace; the value axis fits the traces and the marks with a margin: a peak
// on the frame would be cut off by it.
void FitAxes(QCustomPlot* plot, std::initializer_list<const QCPGraph*> graphs) {
  plot->xAxis->rescale();
  std::vector<double> values;
  for (const QCPGraph* graph : graphs) {
    if (graph == nullptr) continue;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
      values.push_back(it->value);
  }
  const AxisRange range = PaddedRange(values, kTieMargin);
  plot->yAxis->setRange(range.minimum, range.maximum);
}

void ListIfData(QCPGraph* graph) {
  if (graph->data()->isEmpty()) {
    graph->removeFromLegend();
  } else {
    graph->addToLegend();
  }
}

}  // namespace

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
  SetTie(d.trace, d.marks, view);
  FitAxes(d.plot, {d.trace, d.marks, d.second, d.second_marks});
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

AxisRange TieChart::ValueRange() const {
  const QCPRange range = impl_->plot->yAxis->range();
  return {range.lower, range.upper};
}

int TieChart::PointCount() const { return impl_->trace->data()->size(); }
int TieChart::MarkCount() const { return impl_->marks->data()->size(); }
double TieChart::MarkIndex(int k) const { return impl_->marks->data()->at(k)->key; }

void TieChart::SetTraceName(const QString& name) { impl_->trace->setName(name); }
QString TieChart::TraceName() const { return impl_->trace->name(); }

void TieChart::ShowSecond(const TimingView& view, const QString& name) {
  Impl& d = *impl_;
  if (d.second == nullptr) {
    if (!view.valid) return;
    d.second = d.plot->addGraph();
    d.second->setPen(QPen(QColor(255, 128, 0), 1));
    d.second_marks = d.plot->addGraph();
    d.second_marks->setLineStyle(QCPGraph::lsNone);
    d.second_marks->setPen(QPen(QColor(160, 60, 0), 2));
    d.second_marks->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssPlus, 11));
  }
  d.second->setName(name);
  d.second_marks->setName(QStringLiteral("Missing ") + name);
  SetTie(d.second, d.second_marks, view);
  ListIfData(d.second);
  ListIfData(d.second_marks);
  FitAxes(d.plot, {d.trace, d.marks, d.second, d.second_marks});
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

int TieChart::SecondPointCount() const {
  return impl_->second == nullptr ? 0 : impl_->second->data()->size();
}
int TieChart::SecondMarkCount() const {
  return impl_->second_marks == nullptr ? 0 : impl_->second_marks->data()->size();
}
void TieChart::Replot() { impl_->plot->replot(); }
void TieChart::KeepRightFree(int pixels) { presentation::KeepRightFree(impl_->plot, pixels); }
QRect TieChart::PlotArea() const { return presentation::PlotArea(impl_->plot); }

namespace {

// A curve's rows as a graph with its error bars, listed in the legend when it has any.
void FillCurve(QCPGraph* graph, QCPErrorBars* bars,
               const std::vector<analysis::StabilityRow>& rows) {
  QVector<double> keys, values, below, above;
  for (const analysis::StabilityRow& row : rows) {
    const ErrorBar bar = BoundsBar(row.value, row.min, row.max);
    keys.push_back(row.tau_s);
    values.push_back(row.value);
    below.push_back(bar.below);
    above.push_back(bar.above);
  }
  graph->setData(keys, values, true);
  bars->setData(below, above);
  ListIfData(graph);
}

// Log axes cannot draw a value of 0 (a train without jitter).
bool Drawable(const analysis::StabilityRow& row) { return row.value > 0 && row.tau_s > 0; }

}  // namespace

struct StabilityChart::Impl {
  struct Extra {
    QCPGraph* graph = nullptr;
    QCPErrorBars* bars = nullptr;
    std::vector<analysis::StabilityRow> rows;
  };

  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  std::array<QCPGraph*, kDeviationCount> graphs{};
  std::array<QCPErrorBars*, kDeviationCount> bars{};
  std::array<std::vector<analysis::StabilityRow>, kDeviationCount> rows;
  std::vector<Extra> extras;  // graphs made as needed and kept; the unused ones empty
  int extra_count = 0;        // the extras in use
  std::vector<QCPGraph*> limits;
  int limit_count = 0;
  PassiveText* label = nullptr;
  QCPItemText* verdict = nullptr;

  void ShowValues(const analysis::StabilityRow& row) {
    label->setText(QString::fromStdString(StabilityPointText(row)));
    label->position->setCoords(row.tau_s, row.value);
    label->setVisible(true);
    plot->replot(QCustomPlot::rpQueuedReplot);
  }

  // The rows behind a clicked plottable's point, null when it is none of ours.
  const analysis::StabilityRow* RowAt(const QCPAbstractPlottable* plottable, int index) const {
    const auto at = [index](const std::vector<analysis::StabilityRow>& r) {
      return index >= 0 && index < static_cast<int>(r.size()) ? &r[static_cast<size_t>(index)]
                                                              : nullptr;
    };
    for (size_t s = 0; s < graphs.size(); ++s) {
      if (plottable == graphs[s] || plottable == bars[s]) return at(rows[s]);
    }
    for (int e = 0; e < extra_count; ++e) {
      const Extra& x = extras[static_cast<size_t>(e)];
      if (plottable == x.graph || plottable == x.bars) return at(x.rows);
    }
    return nullptr;
  }

  Extra& ExtraAt(int e) {
    while (static_cast<int>(extras.size()) <= e) {
      Extra x;
      x.graph = plot->addGraph();
      x.graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDiamond, 7));
      x.bars = new QCPErrorBars(plot->xAxis, plot->yAxis);
      x.bars->removeFromLegend();
      x.bars->setDataPlottable(x.graph);
      extras.push_back(x);
    }
    return extras[static_cast<size_t>(e)];
  }

  // Both axes over every curve, bar and limit point shown.
  void Rescale() {
    std::vector<double> taus, extents;
    const auto take = [&](const std::vector<analysis::StabilityRow>& r) {
      for (const analysis::StabilityRow& row : r) {
        const ErrorBar bar = BoundsBar(row.value, row.min, row.max);
        taus.push_back(row.tau_s);
        extents.push_back(row.value - bar.below);
        extents.push_back(row.value + bar.above);
      }
    };
    for (const auto& r : rows) take(r);
    for (int e = 0; e < extra_count; ++e) take(extras[static_cast<size_t>(e)].rows);
    for (int l = 0; l < limit_count; ++l) {
      for (const QCPGraphData& point : *limits[static_cast<size_t>(l)]->data()) {
        taus.push_back(point.key);
        extents.push_back(point.value);
      }
    }
    const AxisRange x = LogDecades(taus);
    const AxisRange y = LogDecades(extents);
    plot->xAxis->setRange(x.minimum, x.maximum);
    plot->yAxis->setRange(y.minimum, y.maximum);
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
  d.verdict = new QCPItemText(plot);
  d.verdict->position->setType(QCPItemPosition::ptAxisRectRatio);
  // The legend takes the top right corner and the graph selector the bottom right one.
  d.verdict->position->setCoords(0.01, 0.99);
  d.verdict->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
  d.verdict->setFont(PixelFont(12, true));
  d.verdict->setBrush(QColor(255, 255, 255, 220));
  d.verdict->setPadding(QMargins(4, 2, 4, 2));
  d.verdict->setVisible(false);

  // An error bar belongs to its point: a click on either shows the point's values.
  QObject::connect(plot, &QCustomPlot::plottableClick, this,
                   [this](QCPAbstractPlottable* plottable, int index, QMouseEvent*) {
                     if (const analysis::StabilityRow* row = impl_->RowAt(plottable, index))
                       impl_->ShowValues(*row);
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
      if (row.deviation == kPlottedDeviations[s] && Drawable(row))
        d.rows[static_cast<size_t>(s)].push_back(row);
    }
  }
  for (int s = 0; s < kDeviationCount; ++s) {
    FillCurve(d.graphs[static_cast<size_t>(s)], d.bars[static_cast<size_t>(s)],
              d.rows[static_cast<size_t>(s)]);
  }
  d.label->setVisible(false);
  d.Rescale();
}

void StabilityChart::ShowCurves(const std::vector<Curve>& curves) {
  Impl& d = *impl_;
  d.extra_count = static_cast<int>(curves.size());
  for (size_t e = 0; e < d.extras.size() || e < curves.size(); ++e) {
    Impl::Extra& x = d.ExtraAt(static_cast<int>(e));
    x.rows.clear();
    if (e < curves.size()) {
      const Curve& curve = curves[e];
      for (const analysis::StabilityRow& row : curve.rows) {
        if (Drawable(row)) x.rows.push_back(row);
      }
      x.graph->setName(curve.name);
      x.graph->setPen(QPen(curve.colour, 1, curve.dashed ? Qt::DashLine : Qt::SolidLine));
      x.bars->setPen(QPen(curve.colour, 1));
    }
    FillCurve(x.graph, x.bars, x.rows);
  }
  d.label->setVisible(false);
  d.Rescale();
}

QColor StabilityChart::PlottedColour(int series) {
  return kDeviationColours[static_cast<size_t>(series)];
}

int StabilityChart::CurveCount() const { return impl_->extra_count; }

int StabilityChart::CurvePointCount(int curve) const {
  return impl_->extras[static_cast<size_t>(curve)].graph->data()->size();
}

void StabilityChart::ShowLimits(const std::vector<analysis::LimitLine>& lines,
                                const QString& verdict) {
  Impl& d = *impl_;
  d.limit_count = static_cast<int>(lines.size());
  for (size_t l = 0; l < d.limits.size() || l < lines.size(); ++l) {
    if (l == d.limits.size()) {
      // Each line its own dash, so that two masks can be told apart.
      static constexpr Qt::PenStyle kDashes[] = {Qt::DashDotLine, Qt::DashLine, Qt::DotLine,
                                                 Qt::DashDotDotLine};
      QCPGraph* graph = d.plot->addGraph();
      graph->setPen(QPen(QColor(170, 0, 0), 2, kDashes[l % std::size(kDashes)]));
      d.limits.push_back(graph);
    }
    QVector<double> keys, values;
    if (l < lines.size()) {
      for (const analysis::LimitPoint& point : lines[l].points) {
        keys.push_back(point.tau_s);
        values.push_back(point.limit);
      }
      d.limits[l]->setName(QString::fromStdString(lines[l].deviation).toUpper() +
                           QStringLiteral(" limit"));
    }
    d.limits[l]->setData(keys, values, true);
    ListIfData(d.limits[l]);
  }
  d.verdict->setText(verdict);
  d.verdict->setColor(verdict.startsWith(QStringLiteral("Limits FAIL"))   ? QColor(200, 0, 0)
                      : verdict.startsWith(QStringLiteral("Limits PASS")) ? QColor(0, 130, 0)
                                                                          : QColor(Qt::black));
  d.verdict->setVisible(!verdict.isEmpty());
  d.Rescale();
}

int StabilityChart::LimitLineCount() const { return impl_->limit_count; }

QString StabilityChart::Verdict() const {
  return impl_->verdict->visible() ? impl_->verdict->text() : QString();
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
