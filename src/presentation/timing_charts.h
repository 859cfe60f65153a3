#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>

#include "presentation/chart_maths.h"
#include "presentation/timing_view.h"

namespace presentation {

// The TIE chart: the time interval error of each pulse in ns against its index (series "TIE",
// broken at a missing pulse) and a red cross where each missing pulse would sit ("Missing").
// Window thread only.
class TieChart : public QObject {
  Q_OBJECT

 public:
  explicit TieChart(QWidget* parent);
  ~TieChart() override;

  QWidget* Widget() const;
  QString Title() const;

  // Draws the view's trace and marks; an invalid view clears both.
  void Show(const TimingView& view);
  int PointCount() const;
  int MarkCount() const;
  double MarkIndex(int k) const;
  // The value axis: the trace and the marks with a twentieth of their spread to spare.
  AxisRange ValueRange() const;

  // Keeps the rightmost `pixels` of Widget() free of the plot, for a control that floats there.
  void KeepRightFree(int pixels);
  // Where the plot draws its data, axes and tick labels, in Widget() pixels as of the last
  // redraw.
  QRect PlotArea() const;

  void Replot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The Stability chart: OADEV, MDEV and OHDEV against tau in seconds on log-log axes, each point
// with its confidence bounds as an error bar. A click on a point shows its values beside it.
// Window thread only.
class StabilityChart : public QObject {
  Q_OBJECT

 public:
  explicit StabilityChart(QWidget* parent);
  ~StabilityChart() override;

  QWidget* Widget() const;
  QString Title() const;

  // Draws the rows of kPlottedDeviations (others are left out) and hides the shown values. The
  // legend names only the deviations drawn; `title` replaces the chart's own while shown.
  void Show(const std::vector<analysis::StabilityRow>& rows, const QString& title = {});
  // Series are numbered as kPlottedDeviations.
  int PointCount(int series) const;
  // Where point k of a series is drawn, in the chart widget; (-1, -1) when there is none.
  QPoint PointPosition(int series, int k) const;
  // The values of the clicked point, empty when none is shown.
  QString ShownValues() const;

  // As for the TIE chart.
  void KeepRightFree(int pixels);
  QRect PlotArea() const;

  void Replot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace presentation
