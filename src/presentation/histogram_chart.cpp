#include "presentation/histogram_chart.h"

#include <QPointer>
#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "presentation/plot_axis.h"

namespace presentation {

namespace {

// Bars whose marks (each bar's label text over the bar) can be shown.
class MarkedBars : public QCPBars {
 public:
  MarkedBars(QCPAxis* key_axis, QCPAxis* value_axis, const std::vector<QString>* labels)
      : QCPBars(key_axis, value_axis), labels_(labels) {}

  bool marks_visible = false;

 protected:
  void draw(QCPPainter* painter) override {
    QCPBars::draw(painter);
    if (!marks_visible) return;
    painter->setPen(Qt::black);
    const QFontMetrics metrics(painter->font());
    const int count = data()->size();
    for (int k = 0; k < count && k < static_cast<int>(labels_->size()); ++k) {
      const auto it = data()->at(k);
      const QPointF top = coordsToPixels(it->key, it->value);
      const QString& text = (*labels_)[k];
      const int width = metrics.horizontalAdvance(text);
      painter->drawText(QPointF(top.x() - width / 2.0, top.y() - 3), text);
    }
  }

 private:
  const std::vector<QString>* labels_;
};

}  // namespace

struct HistogramChart::Impl {
  QPointer<QCustomPlot> plot;
  QCPTextElement* title = nullptr;
  MarkedBars* bars = nullptr;
  QSharedPointer<QCPAxisTickerText> ticker;
  std::vector<QString> labels;
  std::optional<FixedAxis> left;
  bool auto_size = false;
  int width_percent = 100;

  void QueueReplot() { plot->replot(QCustomPlot::rpQueuedReplot); }

  // With automatic sizing a bar takes its share of one slot of the bars there are; without, of
  // one slot of the 200 the chart was laid out for, whatever the number of bars.
  void ApplyBarWidth() {
    const double fraction = width_percent / 100.0;
    if (auto_size) {
      bars->setWidthType(QCPBars::wtPlotCoords);
      bars->setWidth(fraction);
    } else {
      bars->setWidthType(QCPBars::wtAxisRectRatio);
      bars->setWidth(fraction / 200);
    }
  }

  // Every bar keeps its label; only as many are drawn under the axis as fit side by side.
  void FitBottomAxis() {
    const int count = static_cast<int>(labels.size());
    plot->xAxis->setRange(-0.5, std::max(count, 1) - 0.5);
    const QFontMetrics metrics(plot->xAxis->tickLabelFont());
    const int stride = LabelStride(count, plot->axisRect()->width(), metrics.height() + 2);
    ticker->clear();
    for (int k = 0; k < count; k += stride) ticker->addTick(k, labels[k]);
  }
};

HistogramChart::HistogramChart(QWidget* parent) : impl_(std::make_unique<Impl>()) {
  Impl& d = *impl_;
  d.plot = new QCustomPlot(parent);
  QCustomPlot* plot = d.plot;
  plot->setAntialiasedElements(QCP::aeNone);
  plot->setNotAntialiasedElements(QCP::aeAll);
  plot->setInteractions(QCP::Interactions());
  plot->legend->setVisible(false);

  plot->plotLayout()->insertRow(0);
  d.title = new QCPTextElement(plot, "K390 Histogram", PixelFont(13, true));
  d.title->setTextColor(Qt::black);
  plot->plotLayout()->addElement(0, 0, d.title);

  d.left.emplace(plot->yAxis, 0, 290);
  d.ticker = QSharedPointer<QCPAxisTickerText>(new QCPAxisTickerText);
  plot->xAxis->setTicker(d.ticker);
  plot->xAxis->setTickLabelRotation(-90);
  plot->xAxis->setTickLabelFont(PixelFont(10));
  plot->xAxis->setSubTicks(false);
  plot->xAxis->grid()->setVisible(false);

  d.bars = new MarkedBars(plot->xAxis, plot->yAxis, &d.labels);
  d.bars->setName("Series4");
  d.bars->setPen(QPen(QColor(160, 0, 0)));
  d.bars->setBrush(QColor(255, 0, 0));
  d.ApplyBarWidth();

  QObject::connect(plot, &QCustomPlot::beforeReplot, this, [this] { impl_->FitBottomAxis(); });
}

HistogramChart::~HistogramChart() { delete impl_->plot; }

QWidget* HistogramChart::Widget() const { return impl_->plot; }

QString HistogramChart::Title() const { return impl_->title->text(); }

void HistogramChart::SetLeftAxisMinimum(double value) { impl_->left->SetMinimum(value); }
void HistogramChart::SetLeftAxisMaximum(double value) { impl_->left->SetMaximum(value); }
double HistogramChart::LeftAxisMinimum() const { return impl_->left->Minimum(); }
double HistogramChart::LeftAxisMaximum() const { return impl_->left->Maximum(); }

void HistogramChart::ClearBars() {
  impl_->bars->data()->clear();
  impl_->labels.clear();
  impl_->QueueReplot();
}

void HistogramChart::AddBar(double value, const QString& label) {
  auto& data = *impl_->bars->data();
  data.add(QCPBarsData(data.size(), value));
  impl_->labels.push_back(label);
  impl_->QueueReplot();
}

int HistogramChart::BarCount() const { return impl_->bars->data()->size(); }

double HistogramChart::BarValue(int k) const {
  const auto& data = *impl_->bars->data();
  if (k < 0 || k >= data.size()) return std::numeric_limits<double>::quiet_NaN();
  return data.at(k)->value;
}

QString HistogramChart::BarLabel(int k) const {
  if (k < 0 || k >= static_cast<int>(impl_->labels.size())) return {};
  return impl_->labels[k];
}

void HistogramChart::SetAutoBarSize(bool on) {
  impl_->auto_size = on;
  impl_->ApplyBarWidth();
  impl_->QueueReplot();
}

void HistogramChart::SetBarWidthPercent(int percent) {
  impl_->width_percent = std::clamp(percent, 0, 100);
  impl_->ApplyBarWidth();
  impl_->QueueReplot();
}

void HistogramChart::SetMarksVisible(bool visible) {
  impl_->bars->marks_visible = visible;
  impl_->QueueReplot();
}

bool HistogramChart::AutoBarSize() const { return impl_->auto_size; }
int HistogramChart::BarWidthPercent() const { return impl_->width_percent; }
bool HistogramChart::MarksVisible() const { return impl_->bars->marks_visible; }

void HistogramChart::SetAxisTitles(const QString& count, const QString& bars) {
  impl_->plot->yAxis->setLabel(count);
  impl_->plot->xAxis->setLabel(bars);
  impl_->QueueReplot();
}

QString HistogramChart::CountAxisTitle() const { return impl_->plot->yAxis->label(); }
QString HistogramChart::BarAxisTitle() const { return impl_->plot->xAxis->label(); }

void HistogramChart::KeepRightFree(int pixels) { presentation::KeepRightFree(impl_->plot, pixels); }

QRect HistogramChart::PlotArea() const { return presentation::PlotArea(impl_->plot); }

void HistogramChart::Replot() { impl_->plot->replot(QCustomPlot::rpImmediateRefresh); }

}  // namespace presentation
