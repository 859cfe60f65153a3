#include "presentation/proving_chart.h"

#include <QPointer>
#include <array>
#include <cmath>
#include <vector>

#include "presentation/plot_axis.h"

namespace presentation {
namespace {

constexpr char kProvingTitle[] = "K390 Virtual Proving";
constexpr double kMsPerSecond = 1e3;

// A vertical line at a flight time across the whole plot, with its text near the top.
struct Marker {
  QCPItemStraightLine* line = nullptr;
  QCPItemText* text = nullptr;
  std::optional<double> at_ms;

  Marker(QCustomPlot* plot, const QColor& colour, double text_height, Qt::Alignment side) {
    line = new QCPItemStraightLine(plot);
    line->setPen(QPen(colour, 2, Qt::DashLine));
    text = new QCPItemText(plot);
    text->position->setTypeX(QCPItemPosition::ptPlotCoords);
    text->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    text->setPositionAlignment(side | Qt::AlignTop);
    text->setColor(colour);
    text->setFont(PixelFont(11, true));
    text->setPadding(QMargins(4, 1, 4, 1));
    text->setBrush(QColor(255, 255, 255, 200));
    text->position->setCoords(1, text_height);
    Place(std::nullopt, {});
  }

  void Place(std::optional<double> ms, const QString& caption) {
    at_ms = ms;
    const bool shown = ms.has_value();
    line->setVisible(shown);
    text->setVisible(shown);
    if (!shown) return;
    line->point1->setCoords(*ms, 1);
    line->point2->setCoords(*ms, 10);
    text->position->setCoords(*ms, text->position->value());
    text->setText(caption);
  }
};

QCPGraph* AddCurve(QCustomPlot* plot, const QString& name, const QPen& pen,
                   QCPScatterStyle::ScatterShape shape) {
  QCPGraph* graph = plot->addGraph();
  graph->setName(name);
  graph->setPen(pen);
  graph->setScatterStyle(QCPScatterStyle(shape, 6));
  return graph;
}

void SetCurve(QCPGraph* graph, const ProvingCurve& curve) {
  graph->setData(QVector<double>(curve.flight_ms.begin(), curve.flight_ms.end()),
                 QVector<double>(curve.repeat_pct.begin(), curve.repeat_pct.end()), true);
}

}  // namespace

struct ProvingChart::Impl {
  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  std::array<QCPGraph*, 4> graphs{};
  std::unique_ptr<Marker> shortest;
  std::unique_ptr<Marker> flight;
  std::vector<double> scanned_ms;  // the flight times scanned, which the x axis spans

  // The x axis spans the scan and the Flight Time box's value, whichever is wider.
  void FitFlightAxis() {
    std::vector<double> xs = scanned_ms;
    if (flight->at_ms) xs.push_back(*flight->at_ms);
    const AxisRange x = LogDecades(xs);
    plot->xAxis->setRange(x.minimum, x.maximum);
    // The limit spans the axis, as a line the curves are read against.
    QCPGraph* limit = graphs[kLimit];
    if (!limit->data()->isEmpty()) {
      const double y = limit->data()->at(0)->value;
      limit->setData({x.minimum, x.maximum}, {y, y}, true);
    }
  }
};

ProvingChart::ProvingChart(QWidget* parent) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.plot = NewTitledPlot(parent, QString::fromLatin1(kProvingTitle), &d.title);
  QCustomPlot* plot = d.plot;
  plot->xAxis->setLabel(QStringLiteral("Flight time (ms)"));
  plot->yAxis->setLabel(QStringLiteral("Repeatability (max - min) / min (%)"));
  for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) SetLogAxis(axis);
  d.graphs[kMedian] = AddCurve(plot, QStringLiteral("Median"), QPen(QColor(0, 0, 200), 2),
                               QCPScatterStyle::ssCircle);
  d.graphs[kP95] = AddCurve(plot, QStringLiteral("95th percentile"), QPen(QColor(200, 0, 0), 2),
                            QCPScatterStyle::ssSquare);
  d.graphs[kP95WithoutPattern] =
      AddCurve(plot, QStringLiteral("95th percentile without the pattern"),
               QPen(QColor(200, 0, 0), 1, Qt::DotLine), QCPScatterStyle::ssTriangle);
  d.graphs[kLimit] = AddCurve(plot, QStringLiteral("Limit"), QPen(QColor(120, 0, 120), 2),
                              QCPScatterStyle::ssNone);
  // Repeatability falls with the flight time: the lower left is where the curves are not.
  plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignBottom | Qt::AlignLeft);
  d.shortest = std::make_unique<Marker>(plot, QColor(0, 140, 0), 0.02, Qt::AlignLeft);
  // The box's flight time is usually the longer one: its text goes left of its line.
  d.flight = std::make_unique<Marker>(plot, QColor(90, 90, 90), 0.10, Qt::AlignRight);
}

ProvingChart::~ProvingChart() { delete impl_->plot; }

QWidget* ProvingChart::Widget() const { return impl_->plot; }
QString ProvingChart::Title() const { return impl_->title->text(); }

void ProvingChart::Show(const ProvingView& view, const QString& scope) {
  Impl& d = *impl_;
  QString title = QString::fromStdString(ProvingTitle(view));
  if (!scope.isEmpty()) title += QStringLiteral("  [") + scope + QLatin1Char(']');
  d.title->setText(title);
  d.scanned_ms.clear();
  std::vector<double> ys;
  for (QCPGraph* graph : d.graphs) graph->data()->clear();
  d.shortest->Place(std::nullopt, {});
  if (view.valid) {
    for (const analysis::ProvingFigures& row : view.scan.rows)
      d.scanned_ms.push_back(row.flight_s * kMsPerSecond);
    const auto draw = [&](Series series, const analysis::ProvingScan& scan, ProvingStatistic s) {
      const ProvingCurve curve = RepeatabilityCurve(scan, s);
      SetCurve(d.graphs[series], curve);
      ys.insert(ys.end(), curve.repeat_pct.begin(), curve.repeat_pct.end());
    };
    draw(kMedian, view.scan, ProvingStatistic::kMedian);
    draw(kP95, view.scan, ProvingStatistic::kP95);
    if (view.without_pattern)
      draw(kP95WithoutPattern, *view.without_pattern, ProvingStatistic::kP95);
    d.graphs[kLimit]->setData({1, 1}, {view.limit_pct, view.limit_pct}, true);
    d.graphs[kLimit]->setName(QString::fromStdString("Limit " + ProvingLimitText(view.limit_pct) +
                                                     " (" + std::to_string(view.runs) + " runs)"));
    ys.push_back(view.limit_pct);
    if (view.scan.shortest_flight_s) {
      d.shortest->Place(*view.scan.shortest_flight_s * kMsPerSecond,
                        QString::fromStdString(ShortestFlightText(*view.scan.shortest_flight_s)));
    }
  }
  for (QCPGraph* graph : d.graphs) {
    if (graph->data()->isEmpty()) {
      graph->removeFromLegend();
    } else {
      graph->addToLegend();
    }
  }
  const AxisRange y = LogDecades(ys);
  d.plot->yAxis->setRange(y.minimum, y.maximum);
  d.FitFlightAxis();
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

void ProvingChart::ShowFlightTime(std::optional<double> flight_ms) {
  Impl& d = *impl_;
  if (flight_ms && !(*flight_ms > 0 && std::isfinite(*flight_ms))) flight_ms.reset();
  d.flight->Place(flight_ms,
                  flight_ms ? QString::fromStdString(FlightBoxText(*flight_ms)) : QString());
  d.FitFlightAxis();
  d.plot->replot(QCustomPlot::rpQueuedReplot);
}

int ProvingChart::PointCount(Series series) const { return impl_->graphs[series]->data()->size(); }

std::optional<double> ProvingChart::ShortestMarkMs() const { return impl_->shortest->at_ms; }
std::optional<double> ProvingChart::FlightMarkMs() const { return impl_->flight->at_ms; }

QString ProvingChart::ShortestMarkText() const {
  return impl_->shortest->at_ms ? impl_->shortest->text->text() : QString();
}

QString ProvingChart::FlightMarkText() const {
  return impl_->flight->at_ms ? impl_->flight->text->text() : QString();
}

void ProvingChart::Replot() { impl_->plot->replot(); }

void ProvingChart::KeepRightFree(int pixels) { presentation::KeepRightFree(impl_->plot, pixels); }

QRect ProvingChart::PlotArea() const { return presentation::PlotArea(impl_->plot); }

}  // namespace presentation
