#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>

class QCustomPlot;

namespace presentation {

// The pulse chart (Chart1): one title line, a left axis with fixed limits and a title, a bottom
// axis that follows the points, and three series addressed by index: 0 Series1 "Ch1" (line with
// small dots and one label per point), 1 Series3 "Avg Ch1" (dotted), 2 Series2 "Ch2"/"Filter".
// A legend beside the plot lists the series, each with a check box that shows or hides it; the
// third is listed only while it holds points. Only this adapter
// knows the chart engine. Window thread only. Changes are drawn at the next event-loop turn
// (one redraw however many changes), or at once with Replot().
class PulseChart : public QObject {
  Q_OBJECT

 public:
  explicit PulseChart(QWidget* parent);
  ~PulseChart() override;

  QWidget* Widget() const;

  void SetTitle(const QString& first_line);
  QString Title() const;

  // The engine's refusals: a minimum above the current maximum throws
  // common::Error("Axis Minimum Value must be <= Maximum"), a maximum below the current minimum
  // common::Error("Axis Maximum Value must be >= Minimum"); the limits then stay as they were.
  void SetLeftAxisMinimum(double value);
  void SetLeftAxisMaximum(double value);
  double LeftAxisMinimum() const;
  double LeftAxisMaximum() const;
  void SetLeftAxisTitle(const QString& title);
  QString LeftAxisTitle() const;

  void ClearSeries(int series);             // points and their labels
  void AddPoint(int series, double value);  // at X = point count, empty hidden label
  void AddNullPoint(int series);            // takes an X position, draws a gap
  int PointCount(int series) const;
  double PointValue(int series, int k) const;  // NaN for a null point
  void SetSeriesTitle(int series, const QString& title);
  QString SeriesTitle(int series) const;
  void SetLineWidth(int series, int width);
  int LineWidth(int series) const;

  void AppendPointLabel(int series, int k, const QString& line);
  QString PointLabel(int series, int k) const;
  void SetPointLabelVisible(int series, int k, bool visible);
  // Index of the shown label of the series, or -1.
  int VisibleLabel(int series) const;
  // Where point k of a series is drawn, in Widget() pixels as of the last redraw; (-1, -1) for a
  // null or missing point.
  QPoint PointPosition(int series, int k) const;

  // Legend check boxes.
  void SetSeriesVisible(int series, bool visible);
  bool SeriesVisible(int series) const;
  // Whether the legend lists the series.
  bool SeriesListed(int series) const;

  // Keeps the rightmost `pixels` of Widget() free of the plot: the legend column is at least
  // that wide. A control may float over its lower part.
  void KeepRightFree(int pixels);
  // Where the plot draws its data, axes and tick labels, in Widget() pixels as of the last
  // redraw.
  QRect PlotArea() const;

  void Replot();

 signals:
  // A point of a series was clicked.
  void PointClicked(int series, int index);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace presentation
