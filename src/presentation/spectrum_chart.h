#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

#include "presentation/spectrum_view.h"

namespace presentation {

// The Spectrum chart: the amplitude of the time interval error in ns against frequency in Hz on
// logarithmic axes, the periodic lines marked, and the strongest kLabelledLines labelled with
// their frequency, amplitude and divisor. The title carries the random RMS. Window thread only.
class SpectrumChart : public QObject {
  Q_OBJECT

 public:
  explicit SpectrumChart(QWidget* parent);
  ~SpectrumChart() override;

  QWidget* Widget() const;
  QString Title() const;

  // Draws the view; an invalid one clears the curve, the marks and the labels.
  // `scope`, when given, follows the title (what record the view covers: a whole run).
  void Show(const SpectrumView& view, const QString& scope = {});

  int PointCount() const;
  int LineCount() const;
  // The labels shown, strongest line first.
  QStringList LabelTexts() const;

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
