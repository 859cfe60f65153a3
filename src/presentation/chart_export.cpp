#include "presentation/chart_export.h"

#include <qcustomplot.h>

#include <QFileInfo>
#include <QSvgGenerator>
#include <vector>

#include "common/error.h"

namespace presentation {
namespace {

QCustomPlot* PlotOf(const QWidget* chart) {
  if (chart == nullptr) return nullptr;
  if (auto* plot = qobject_cast<QCustomPlot*>(const_cast<QWidget*>(chart))) return plot;
  return chart->findChild<QCustomPlot*>();
}

[[noreturn]] void Fail(const QString& path, const char* reason) {
  throw common::Error("Cannot save \"" + path.toStdString() + "\": " + reason);
}

// The pulse chart lists its series in check boxes beside the plot, which a picture of the plot
// alone would lose: the plot's own legend stands in for them, with the series shown and holding
// points only, while the picture is drawn. A chart with a legend of its own, or with one series,
// is left as it is.
class PictureLegend {
 public:
  explicit PictureLegend(QCustomPlot* plot) : plot_(plot) {
    if (plot->legend->visible()) return;
    std::vector<QCPAbstractPlottable*> shown;
    for (int i = 0; i < plot->plottableCount(); ++i) {
      QCPAbstractPlottable* p = plot->plottable(i);
      if (plot->legend->hasItemWithPlottable(p)) listed_.push_back(p);
      const bool drawn = p->interface1D() == nullptr || p->interface1D()->dataCount() > 0;
      if (p->visible() && drawn && !p->name().isEmpty()) shown.push_back(p);
    }
    if (shown.size() < 2) return;
    List(shown);
    plot->legend->setVisible(true);
    active_ = true;
  }
  ~PictureLegend() {
    if (!active_) return;
    plot_->legend->setVisible(false);
    List(listed_);
  }
  PictureLegend(const PictureLegend&) = delete;
  PictureLegend& operator=(const PictureLegend&) = delete;

 private:
  // Items keep the order of the series, so the legend never drifts from export to export.
  void List(const std::vector<QCPAbstractPlottable*>& plottables) {
    plot_->legend->clearItems();
    for (QCPAbstractPlottable* p : plottables) p->addToLegend();
  }

  QCustomPlot* plot_;
  std::vector<QCPAbstractPlottable*> listed_;
  bool active_ = false;
};

bool SaveSvg(QCustomPlot* plot, const QString& path, QSize size) {
  QSvgGenerator generator;
  generator.setFileName(path);
  generator.setSize(size);
  generator.setViewBox(QRect(QPoint(0, 0), size));
  generator.setTitle(QStringLiteral("K390cap chart"));
  QCPPainter painter;
  if (!painter.begin(&generator)) return false;
  plot->toPainter(&painter, size.width(), size.height());
  return painter.end();
}

}  // namespace

std::optional<PictureFormat> PictureFormatOf(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("png")) return PictureFormat::kPng;
  if (suffix == QLatin1String("pdf")) return PictureFormat::kPdf;
  if (suffix == QLatin1String("svg")) return PictureFormat::kSvg;
  return std::nullopt;
}

QSize ShownChartSize(const QWidget* chart) {
  const QCustomPlot* plot = PlotOf(chart);
  return plot != nullptr ? plot->size() : QSize();
}

void SaveChartPicture(QWidget* chart, const QString& path, QSize size) {
  const std::optional<PictureFormat> format = PictureFormatOf(path);
  if (!format) Fail(path, "the extension must be .png, .pdf or .svg");
  if (size.isEmpty()) Fail(path, "the picture has no area");
  QCustomPlot* plot = PlotOf(chart);
  if (plot == nullptr) Fail(path, "there is no chart to draw");

  // Changes since the last redraw (a feed, a new axis range) are laid out first.
  plot->replot(QCustomPlot::rpImmediateRefresh);
  bool saved = false;
  {
    const PictureLegend legend(plot);
    switch (*format) {
      case PictureFormat::kPng:
        saved = plot->savePng(path, size.width(), size.height());
        break;
      case PictureFormat::kPdf:
        saved = plot->savePdf(path, size.width(), size.height(), QCP::epAllowCosmetic,
                              QStringLiteral("K390cap"), QStringLiteral("K390cap chart"));
        break;
      case PictureFormat::kSvg:
        saved = SaveSvg(plot, path, size);
        break;
    }
  }
  plot->replot(QCustomPlot::rpQueuedReplot);
  if (!saved) Fail(path, "the file cannot be written");
}

}  // namespace presentation
