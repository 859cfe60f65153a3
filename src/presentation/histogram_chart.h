#pragma once

#include <QObject>
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

  void Replot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace presentation
