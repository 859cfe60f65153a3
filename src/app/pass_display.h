#pragma once

#include <QString>
#include <string>
#include <vector>

#include "analysis/processing_pass.h"
#include "analysis/stability.h"

namespace app {

class FmainForm;

// Shows what a pass made: the figure boxes, then the pulse chart or the histogram for the view,
// then the flight-time figures, then (with the analysis shown) the timing readout and the TIE or
// Stability chart; and keeps the held maxima in the pass as the boxes show them.
// A new view or figure is shown here. Window thread only.
class PassDisplay {
 public:
  PassDisplay(const FmainForm& ui, analysis::ProcessingPass& pass) : ui_(ui), pass_(pass) {}

  // Throws common::Error when the chart refuses its limits or a flight-time text does not
  // convert; what was shown before the failure stays.
  void Apply(const analysis::PassResult& result, analysis::GraphView view);
  void ApplyFlight(const analysis::FlightFigures& flight);
  // Empties every figure box, both charts and the timing readout: nothing of an earlier capture
  // is left to pass for a new one's. The held maxima are the pass's and stay.
  void Clear();

  QString FigureText(analysis::Figure figure) const;
  void SetFigureText(analysis::Figure figure, const std::string& text);

  // What a Save writes in `view`: the channel 1 trace as drawn, or in the other views the
  // frequencies of the intervals last drawn, so that the values always match the frequency
  // header whichever view drew the pulse chart last.
  std::vector<double> SavedValues(analysis::GraphView view) const;
  // The stability rows of the last pass in the Stability view, with the noise types found.
  const std::vector<analysis::StabilityRow>& StabilityRows() const { return stability_; }
  // Channel 1 of the last pass that drew, in ticks.
  const std::vector<double>& DrawnIntervals() const { return drawn_intervals_; }

 private:
  void FeedChart(const analysis::ChartInput& input, analysis::GraphView view);
  void DrawHistogram(const acquisition::PulseData& data);
  void KeepDrawnIntervals(const acquisition::PulseData& data);
  void ShowTiming(const acquisition::PulseData& data, analysis::GraphView view);

  const FmainForm& ui_;
  analysis::ProcessingPass& pass_;
  std::vector<double> drawn_intervals_;  // channel 1 of the last pass that drew, in ticks
  std::vector<analysis::StabilityRow> stability_;
};

}  // namespace app
