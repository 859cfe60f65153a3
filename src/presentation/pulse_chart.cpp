#include "presentation/pulse_chart.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "common/error.h"
#include "presentation/chart_maths.h"
#include "presentation/plot_axis.h"

namespace presentation {
namespace {

constexpr int kSeriesCount = 3;
// Only channel 1 draws its point labels; the other series keep theirs as data.
constexpr int kLabelledSeries = 0;
constexpr int kThirdSeries = 2;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The shown point label must not swallow the click on the point beneath it.
class PassiveText : public QCPItemText {
 public:
  using QCPItemText::QCPItemText;
  double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
};

// A graph that draws its line faster. After the engine's own sampling a dense stretch still
// holds up to four vertices per pixel column, and stroking them with a 2-pixel pen draws most
// pixels several times over and is what a redraw spends most of its time on. A solid opaque line
// without smoothing is therefore filled as the pixel spans it covers, each pixel once; other
// lines (the dotted centre line) go to the painter as separate segments without the inner points
// of straight runs, which the raster engine draws much faster than one wide polyline. Together
// this keeps a full redraw of 15,000 points short enough for the stream's 50 ms tick.
class LeanGraph : public QCPGraph {
 public:
  using QCPGraph::QCPGraph;

 protected:
  void drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const override {
    const QPen pen = painter->pen();
    if (pen.style() == Qt::NoPen || pen.color().alpha() == 0) return;
    applyDefaultAntialiasingHint(painter);
    painter->setBrush(Qt::NoBrush);
    if (pen.style() == Qt::SolidLine && pen.color().alpha() == 255 &&
        !painter->testRenderHint(QPainter::Antialiasing)) {
      FillCover(painter, pen, lines);
    } else {
      painter->drawLines(LeanSegments(lines));
    }
  }

 private:
  static void FillCover(QCPPainter* painter, const QPen& pen, const QVector<QPointF>& lines) {
    std::vector<Vertex> vertices;
    vertices.reserve(lines.size());
    for (const QPointF& p : lines) vertices.push_back({p.x(), p.y()});
    const PolylineCover cover = CoverPolyline(vertices);
    // A w-pixel pen centred on the one-pixel trace.
    const int w = std::max(1, qRound(pen.widthF()));
    const int half = w / 2;
    for (const ColumnSpan& span : cover.spans) {
      painter->fillRect(QRect(span.x - half, span.top - half, w, span.bottom - span.top + w),
                        pen.color());
    }
    if (!cover.segments.empty()) {
      QVector<QLineF> segments;
      segments.reserve(static_cast<qsizetype>(cover.segments.size()));
      for (const auto& [a, b] : cover.segments) segments.append(QLineF(a.x, a.y, b.x, b.y));
      painter->drawLines(segments);
    }
  }

  static QVector<QLineF> LeanSegments(const QVector<QPointF>& lines) {
    auto finite = [](const QPointF& p) { return qIsFinite(p.x()) && qIsFinite(p.y()); };
    QVector<QPointF> lean;
    lean.reserve(lines.size());
    for (const QPointF& raw : lines) {
      if (!finite(raw)) {  // a gap stays a gap
        lean.append(raw);
        continue;
      }
      const QPointF p(std::round(raw.x()), std::round(raw.y()));
      const qsizetype n = lean.size();
      if (n >= 1 && lean[n - 1] == p) continue;
      if (n >= 2 && finite(lean[n - 1]) && finite(lean[n - 2])) {
        const QPointF& a = lean[n - 2];
        const QPointF& b = lean[n - 1];
        // b lies between a and p on one row or one column: the run a-p covers it.
        const bool row = a.y() == b.y() && b.y() == p.y() && (a.x() <= b.x()) == (b.x() <= p.x());
        const bool column =
            a.x() == b.x() && b.x() == p.x() && (a.y() <= b.y()) == (b.y() <= p.y());
        if (row || column) {
          lean[n - 1] = p;
          continue;
        }
      }
      lean.append(p);
    }
    QVector<QLineF> segments;
    segments.reserve(lean.size());
    for (qsizetype i = 1; i < lean.size(); ++i) {
      if (finite(lean[i - 1]) && finite(lean[i])) segments.append(QLineF(lean[i - 1], lean[i]));
    }
    return segments;
  }
};

// A small round dot, drawn once; stamping it is far cheaper than filling thousands of discs.
QPixmap DotPixmap(const QColor& colour) {
  QPixmap pixmap(3, 3);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  // Source mode: where the two bars cross, the dot keeps its own transparency.
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  painter.fillRect(1, 0, 1, 3, colour);
  painter.fillRect(0, 1, 3, 1, colour);
  return pixmap;
}

// A line sample of the series for its legend check box.
QIcon LegendIcon(const QPen& pen, const QCPScatterStyle& scatter) {
  QPixmap pixmap(28, 14);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QPen line = pen;
  line.setWidthF(std::max(1.0, pen.widthF()));
  painter.setPen(line);
  painter.drawLine(2, 7, 26, 7);
  if (!scatter.isNone()) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(pen.color());
    painter.drawEllipse(QPointF(14, 7), 2.5, 2.5);
  }
  return QIcon(pixmap);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pulse chart

struct PulseChart::Impl {
  QPointer<QWidget> frame;  // the plot and its legend; owned by the parent widget, or by us
  QCustomPlot* plot = nullptr;
  QWidget* legend_box = nullptr;  // the legend column at the plot's right
  QCPTextElement* title = nullptr;
  std::array<QCPGraph*, kSeriesCount> graphs{};
  // The graphs' own point stores, held directly: a feed adds 15,000 points one by one.
  std::array<QCPGraphDataContainer*, kSeriesCount> points{};
  std::array<QCheckBox*, kSeriesCount> legend{};
  std::array<std::vector<QString>, kSeriesCount> labels;
  std::array<int, kSeriesCount> visible_label{-1, -1, -1};
  PassiveText* label_item = nullptr;
  std::optional<FixedAxis> left;

  void QueueReplot() { plot->replot(QCustomPlot::rpQueuedReplot); }

  void CheckSeries(int series) const {
    if (series < 0 || series >= kSeriesCount) {
      throw common::Error("Series index out of bounds (" + std::to_string(series) + ")");
    }
  }

  // Places the one label item over the shown label of channel 1, or hides it.
  void UpdateLabelItem() {
    const int k = visible_label[kLabelledSeries];
    QCPGraph* graph = graphs[kLabelledSeries];
    if (k < 0 || k >= graph->data()->size() || !graph->visible()) {
      label_item->setVisible(false);
      return;
    }
    const double value = graph->data()->at(k)->value;
    if (std::isnan(value)) {
      label_item->setVisible(false);
      return;
    }
    label_item->position->setCoords(k, value);
    label_item->setText(labels[kLabelledSeries][k]);
    label_item->setVisible(true);
  }

  // The bottom axis follows the points: X runs from 0 to the last point of the longest series.
  void FitBottomAxis() {
    int count = 0;
    for (QCPGraph* graph : graphs) count = std::max(count, graph->data()->size());
    if (count <= 1) {
      plot->xAxis->setRange(-0.5, 0.5);
    } else {
      plot->xAxis->setRange(0, count - 1);
    }
  }

  void RefreshLegendIcon(int series) {
    legend[series]->setIcon(LegendIcon(graphs[series]->pen(), graphs[series]->scatterStyle()));
  }

  // The third trace is channel 2 or the smoothed channel 1; in a single-channel capture without
  // the filter it holds nothing, and a legend entry would name a trace that is not there.
  void ListThirdTrace() { legend[kThirdSeries]->setVisible(!points[kThirdSeries]->isEmpty()); }

  // The engine's look: fast drawing, the title line and the axes of the layout.
  void SetUpPlot() {
    // Thousands of points are redrawn on every pass while streaming; smoothing buys little there.
    plot->setAntialiasedElements(QCP::aeNone);
    plot->setNotAntialiasedElements(QCP::aeAll);
    plot->setPlottingHint(QCP::phFastPolylines, true);
    plot->setInteractions(QCP::Interactions());
    plot->legend->setVisible(false);
    plot->plotLayout()->insertRow(0);
    title = new QCPTextElement(plot, "K390 Jitter Data", PixelFont(13, true));
    title->setTextColor(Qt::black);
    plot->plotLayout()->addElement(0, 0, title);
    plot->yAxis->setLabel("Cycle Time (x25ns)");
    plot->yAxis->setLabelFont(PixelFont(16));
    left.emplace(plot->yAxis, -100, 100);
    plot->xAxis->setRange(-0.5, 0.5);
    // Ch1 lies on top of the other traces, so a click where they cross reaches its points.
    plot->addLayer(QStringLiteral("ch1"), plot->layer(QStringLiteral("main")),
                   QCustomPlot::limAbove);
  }

  // Series `s` with its look and its legend check box (a child of the legend column).
  void AddSeries(int s) {
    struct Look {
      const char* title;
      QColor colour;
      Qt::PenStyle style;
      int width;
      bool dots;
      int dot_alpha;
    };
    // Ch1's dots are 43 % transparent so that the line shows through dense stretches.
    static const std::array<Look, kSeriesCount> kLooks = {{
        {"Ch1", QColor(0, 64, 128), Qt::SolidLine, 1, true, 146},
        {"Avg Ch1", QColor(0, 0, 255), Qt::DotLine, 2, false, 255},
        {"Ch2", QColor(255, 128, 0), Qt::SolidLine, 1, true, 255},
    }};
    const Look& look = kLooks[s];
    QCPGraph* graph = new LeanGraph(plot->xAxis, plot->yAxis);
    graph->setPen(QPen(look.colour, look.width, look.style));
    graph->setLineStyle(QCPGraph::lsLine);
    graph->setName(look.title);
    graph->setAdaptiveSampling(true);
    if (look.dots) {
      QColor dot = look.colour;
      dot.setAlpha(look.dot_alpha);
      graph->setScatterStyle(QCPScatterStyle(DotPixmap(dot)));
    }
    if (s == kLabelledSeries) graph->setLayer(QStringLiteral("ch1"));
    graphs[s] = graph;
    points[s] = graph->data().data();

    auto* box = new QCheckBox(look.title, legend_box);
    box->setChecked(true);
    box->setObjectName(QString("legend%1").arg(s));
    legend[s] = box;
    RefreshLegendIcon(s);
    if (s == kThirdSeries) ListThirdTrace();
  }

  // The one label item that shows the clicked point's label, over the Ch1 trace.
  void SetUpLabelItem() {
    label_item = new PassiveText(plot);
    label_item->setLayer(QStringLiteral("ch1"));
    label_item->position->setType(QCPItemPosition::ptPlotCoords);
    label_item->position->setAxes(plot->xAxis, plot->yAxis);
    label_item->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    label_item->setPen(Qt::NoPen);
    label_item->setBrush(QColor(192, 192, 192, 214));  // silver, 16 % transparent
    label_item->setColor(Qt::black);
    label_item->setPadding(QMargins(3, 1, 3, 1));
    label_item->setSelectable(false);
    label_item->setVisible(false);
  }
};

PulseChart::PulseChart(QWidget* parent) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  auto* frame = new QWidget(parent);
  d.frame = frame;
  frame->setAutoFillBackground(true);
  QPalette palette = frame->palette();
  palette.setColor(QPalette::Window, Qt::white);
  frame->setPalette(palette);

  d.plot = new QCustomPlot(frame);
  d.SetUpPlot();
  d.legend_box = new QWidget(frame);
  auto* legend_layout = new QVBoxLayout(d.legend_box);
  legend_layout->setContentsMargins(4, 24, 8, 4);
  for (int s = 0; s < kSeriesCount; ++s) {
    d.AddSeries(s);
    legend_layout->addWidget(d.legend[s]);
    QObject::connect(d.legend[s], &QCheckBox::toggled, this, [this, s](bool on) {
      impl_->graphs[s]->setVisible(on);
      impl_->UpdateLabelItem();
      impl_->QueueReplot();
    });
  }
  legend_layout->addStretch(1);
  d.SetUpLabelItem();

  auto* layout = new QHBoxLayout(frame);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(d.plot, 1);
  layout->addWidget(d.legend_box, 0, Qt::AlignTop);

  QObject::connect(d.plot, &QCustomPlot::beforeReplot, this, [this] { impl_->FitBottomAxis(); });
  QObject::connect(d.plot, &QCustomPlot::plottableClick, this,
                   [this](QCPAbstractPlottable* plottable, int index, QMouseEvent*) {
                     for (int s = 0; s < kSeriesCount; ++s) {
                       if (plottable == impl_->graphs[s]) emit PointClicked(s, index);
                     }
                   });
}

PulseChart::~PulseChart() { delete impl_->frame; }

QWidget* PulseChart::Widget() const { return impl_->frame; }

void PulseChart::SetTitle(const QString& first_line) {
  impl_->title->setText(first_line);
  impl_->QueueReplot();
}

QString PulseChart::Title() const { return impl_->title->text(); }

void PulseChart::SetLeftAxisMinimum(double value) { impl_->left->SetMinimum(value); }
void PulseChart::SetLeftAxisMaximum(double value) { impl_->left->SetMaximum(value); }
double PulseChart::LeftAxisMinimum() const { return impl_->left->Minimum(); }
double PulseChart::LeftAxisMaximum() const { return impl_->left->Maximum(); }

void PulseChart::SetLeftAxisTitle(const QString& title) {
  impl_->plot->yAxis->setLabel(title);
  impl_->QueueReplot();
}

QString PulseChart::LeftAxisTitle() const { return impl_->plot->yAxis->label(); }

void PulseChart::ClearSeries(int series) {
  impl_->CheckSeries(series);
  impl_->points[series]->clear();
  impl_->labels[series].clear();
  impl_->visible_label[series] = -1;
  if (series == kLabelledSeries) impl_->UpdateLabelItem();
  if (series == kThirdSeries) impl_->ListThirdTrace();
  impl_->QueueReplot();
}

void PulseChart::AddPoint(int series, double value) {
  impl_->CheckSeries(series);
  QCPGraphDataContainer& points = *impl_->points[series];
  points.add(QCPGraphData(points.size(), value));
  impl_->labels[series].emplace_back();
  if (series == kThirdSeries && points.size() == 1) impl_->ListThirdTrace();
  impl_->QueueReplot();
}

void PulseChart::AddNullPoint(int series) { AddPoint(series, kNaN); }

int PulseChart::PointCount(int series) const {
  impl_->CheckSeries(series);
  return impl_->points[series]->size();
}

double PulseChart::PointValue(int series, int k) const {
  impl_->CheckSeries(series);
  const QCPGraphDataContainer& points = *impl_->points[series];
  if (k < 0 || k >= points.size()) return kNaN;
  return points.at(k)->value;
}

void PulseChart::SetSeriesTitle(int series, const QString& title) {
  impl_->CheckSeries(series);
  impl_->graphs[series]->setName(title);
  impl_->legend[series]->setText(title);
}

QString PulseChart::SeriesTitle(int series) const {
  impl_->CheckSeries(series);
  return impl_->graphs[series]->name();
}

void PulseChart::SetLineWidth(int series, int width) {
  impl_->CheckSeries(series);
  QCPGraph* graph = impl_->graphs[series];
  QPen pen = graph->pen();
  if (pen.width() == width) return;
  pen.setWidth(width);
  graph->setPen(pen);
  impl_->RefreshLegendIcon(series);
  impl_->QueueReplot();
}

int PulseChart::LineWidth(int series) const {
  impl_->CheckSeries(series);
  return impl_->graphs[series]->pen().width();
}

void PulseChart::AppendPointLabel(int series, int k, const QString& line) {
  impl_->CheckSeries(series);
  auto& labels = impl_->labels[series];
  if (k < 0 || k >= static_cast<int>(labels.size())) return;
  QString& text = labels[k];
  if (text.isEmpty()) {
    text = line;
  } else {
    text += '\n';
    text += line;
  }
  if (series == kLabelledSeries && impl_->visible_label[series] == k) {
    impl_->UpdateLabelItem();
    impl_->QueueReplot();
  }
}

QString PulseChart::PointLabel(int series, int k) const {
  impl_->CheckSeries(series);
  const auto& labels = impl_->labels[series];
  if (k < 0 || k >= static_cast<int>(labels.size())) return {};
  return labels[k];
}

void PulseChart::SetPointLabelVisible(int series, int k, bool visible) {
  impl_->CheckSeries(series);
  int& shown = impl_->visible_label[series];
  if (visible) {
    if (k < 0 || k >= static_cast<int>(impl_->labels[series].size())) return;
    shown = k;
  } else if (shown == k) {
    shown = -1;
  } else {
    return;
  }
  if (series == kLabelledSeries) {
    impl_->UpdateLabelItem();
    impl_->QueueReplot();
  }
}

int PulseChart::VisibleLabel(int series) const {
  impl_->CheckSeries(series);
  return impl_->visible_label[series];
}

QPoint PulseChart::PointPosition(int series, int k) const {
  impl_->CheckSeries(series);
  const QCPGraph* graph = impl_->graphs[series];
  if (k < 0 || k >= graph->data()->size()) return {-1, -1};
  const auto point = graph->data()->at(k);
  if (std::isnan(point->value)) return {-1, -1};
  const QPointF pixel = graph->coordsToPixels(point->key, point->value);
  return impl_->plot->mapTo(impl_->frame, pixel.toPoint());
}

void PulseChart::SetSeriesVisible(int series, bool visible) {
  impl_->CheckSeries(series);
  impl_->legend[series]->setChecked(visible);
}

bool PulseChart::SeriesVisible(int series) const {
  impl_->CheckSeries(series);
  return impl_->graphs[series]->visible();
}

bool PulseChart::SeriesListed(int series) const {
  impl_->CheckSeries(series);
  return !impl_->legend[series]->isHidden();
}

void PulseChart::KeepRightFree(int pixels) { impl_->legend_box->setMinimumWidth(pixels); }

QRect PulseChart::PlotArea() const {
  return presentation::PlotArea(impl_->plot).translated(impl_->plot->pos());
}

void PulseChart::Replot() { impl_->plot->replot(QCustomPlot::rpImmediateRefresh); }

}  // namespace presentation
