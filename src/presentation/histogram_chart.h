#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>

namespace presentation {

// The histogram chart (Chart2): one title line that never changes, a left (count) axis with
// fixed limits and one bar series (Series4) whose bars stand at 0, 1, 2, ... with a text label
// each under the bottom axis. Window thread only.
class HistogramChart : public QObject {
  Q_OBJECT

 public:
  explicit HistogramChart(QWidget* parent);
  ~HistogramChart() override;

  QWidget* Widget() const;

  QString Title() const;
  // Same refusals as the pulse chart.
  void SetLeftAxisMinimum(double value);
  void SetLeftAxisMaximum(double value);
  double LeftAxisMinimum() const;
  double LeftAxisMaximum() const;

  void ClearBars();
  void AddBar(double value, const QString& label);
  int BarCount() const;
  double BarValue(int k) const;
  QString BarLabel(int k) const;
  void SetAutoBarSize(bool on);
  void SetBarWidthPercent(int percent);
  void SetMarksVisible(bool visible);
  bool AutoBarSize() const;
  int BarWidthPercent() const;
  bool MarksVisible() const;

  // The titles of the count (left) axis and of the bar (bottom) axis.
  void SetAxisTitles(const QString& count, const QString& bars);
  QString CountAxisTitle() const;
  QString BarAxisTitle() const;

  // Keeps the rightmost `pixels` of Widget() free of the plot, for a control that floats there.
  void KeepRightFree(int pixels);
  // Where the plot draws its bars, axes and labels, in Widget() pixels as of the last redraw.
  QRect PlotArea() const;

  void Replot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace presentation
