#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "analysis/limit_check.h"
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

  // The legend name of the trace Show draws ("TIE" until set).
  void SetTraceName(const QString& name);
  QString TraceName() const;
  // A second trace beside the first (channel 2 of a dual block) with its missing pulses, named
  // `name` and "Missing <name>"; an invalid view clears it and takes it out of the legend.
  void ShowSecond(const TimingView& view, const QString& name);
  int SecondPointCount() const;
  int SecondMarkCount() const;

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

  // The colour of a series of kPlottedDeviations, for curves that go with it.
  static QColor PlottedColour(int series);

  // Curves beside those Show draws (channel 2's, or the time difference's TDEV and MTIE), each
  // with its bounds as error bars and its own legend entry; a click shows a point's values as
  // on the others. Replaces the curves shown before; none clears them.
  struct Curve {
    QString name;
    QColor colour;
    bool dashed = false;
    std::vector<analysis::StabilityRow> rows;  // rows of a value or tau of 0 are left out
  };
  void ShowCurves(const std::vector<Curve>& curves);
  int CurveCount() const;
  int CurvePointCount(int curve) const;

  // Limit lines, straight on the log-log axes between their points, named "<DEVIATION> limit",
  // and the verdict in the bottom left corner of the plot, red when it starts "Limits FAIL",
  // green for "Limits PASS". No lines and an empty verdict clear both.
  void ShowLimits(const std::vector<analysis::LimitLine>& lines, const QString& verdict);
  int LimitLineCount() const;
  QString Verdict() const;
  // As for the TIE chart.
  void KeepRightFree(int pixels);
  QRect PlotArea() const;

  void Replot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace presentation
