#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>
#include <optional>

#include "presentation/proving_view.h"

namespace presentation {

// The Proving chart: the repeatability of provings against flight time on logarithmic axes (ms,
// %), its median and 95th percentile per flight time (and the 95th percentile with the pattern
// taken out, when there is one), the limit for the runs per proving as a horizontal line, the
// shortest flight time at which 95 % of provings pass as a green vertical line, and the Flight
// Time box's value as a grey one. Window thread only.
class ProvingChart : public QObject {
  Q_OBJECT

 public:
  enum Series { kMedian, kP95, kP95WithoutPattern, kLimit };

  explicit ProvingChart(QWidget* parent);
  ~ProvingChart() override;

  QWidget* Widget() const;
  QString Title() const;

  // Draws the view; an invalid one clears the curves and the markers and shows its note.
  // `scope`, when given, follows the title (what record the view covers: a whole run).
  void Show(const ProvingView& view, const QString& scope = {});
  // The Flight Time box's value in ms, or none (an empty or unreadable box) to hide its marker.
  void ShowFlightTime(std::optional<double> flight_ms);

  int PointCount(Series series) const;
  // Where the markers stand (ms), none when hidden.
  std::optional<double> ShortestMarkMs() const;
  std::optional<double> FlightMarkMs() const;
  // The texts the markers carry.
  QString ShortestMarkText() const;
  QString FlightMarkText() const;

  // As for the TIE chart: the rightmost `pixels` of Widget() stay free of the plot, for the
  // graph selector that floats there; PlotArea is where the plot draws, as of the last redraw.
  void KeepRightFree(int pixels);
  QRect PlotArea() const;

  void Replot();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace presentation
