#pragma once

#include <initializer_list>
#include <optional>
#include <vector>

#include "acquisition/protocol.h"
#include "analysis/figure_text.h"
#include "analysis/processing_pass.h"
#include "analysis/stability.h"
#include "app/record_views.h"

namespace app {

class FmainForm;

// Shows what a pass made: the figure boxes, then the pulse chart or the histogram for the view,
// then the flight-time figures, then (with the analysis shown) the timing readout with the
// pattern, and the TIE, Stability, Proving and Spectrum charts. It keeps what it showed as
// numbers: the figures, and the intervals drawn. A new view or figure is shown here. Window
// thread only.
class PassDisplay {
 public:
  PassDisplay(const FmainForm& ui, analysis::ProcessingPass& pass) : ui_(ui), pass_(pass) {}

  // The stamps of both channels of the block the next Apply shows (none: a single-channel
  // block, a loaded list, the stream window), and whether it is a new block of an AutoSample
  // run rather than a redraw.
  void SetBlock(std::optional<acquisition::DualStamps> stamps, bool new_run_block) {
    stamps_ = std::move(stamps);
    new_run_block_ = new_run_block;
  }

  // `stream_window` for a pass over the stream's window, which runs at every tick. Throws
  // common::Error when the chart refuses its limits or the flight-time figures do not convert;
  // what was shown before the failure stays.
  void Apply(const analysis::PassResult& result, analysis::GraphView view,
             bool stream_window = false);
  // Empties every figure box, both charts and the timing readout: nothing of an earlier capture
  // is left to pass for a new one's, nor for Save and Copy. The held maxima are the pass's and
  // stay.
  void Clear();
  // The flight-time figures of the figures shown and the Flight Time box, through the pass,
  // which holds their maximum. Throws common::Error with their conversion message.
  void ShowFlight();
  // Blanks the boxes of `figures`.
  void BlankFigures(std::initializer_list<analysis::Figure> figures);
  // The figures as the boxes show them.
  const analysis::FigureSheet& Figures() const { return shown_; }

  // What a Save writes in `view`: the channel 1 trace last fed to the pulse chart (intervals in
  // ticks, or frequencies in Hz as that feed drew them), or in the other views the frequencies
  // of the intervals last drawn, so that the values always match the frequency header whichever
  // view drew the pulse chart last.
  std::vector<double> SavedValues(analysis::GraphView view) const;
  // The stability rows last drawn in the Stability chart, with the noise types found.
  const std::vector<analysis::StabilityRow>& StabilityRows() const { return stability_; }
  // Channel 1 of the last pass that drew, in ticks.
  const std::vector<double>& DrawnIntervals() const { return drawn_intervals_; }
  // The Proving and Spectrum views: a pass's, or a streamed run's.
  RecordDisplay& Record() { return record_; }
  const RecordDisplay& Record() const { return record_; }

 private:
  // Takes the figures [from, to) of `next` and shows them.
  void ShowFigures(const analysis::FigureSheet& next, analysis::Figure from, analysis::Figure to);
  void ShowFigure(analysis::Figure figure);
  void FeedChart(const analysis::ChartInput& input, analysis::GraphView view);
  void DrawHistogram(const acquisition::PulseData& data);
  void KeepDrawnIntervals(const acquisition::PulseData& data);
  void ShowTiming(const acquisition::PulseData& data, analysis::GraphView view, bool stream_window);

  const FmainForm& ui_;
  analysis::ProcessingPass& pass_;
  analysis::FigureSheet shown_;
  std::vector<double> drawn_intervals_;  // channel 1 of the last pass that drew, in ticks
  std::vector<double> fed_intervals_;    // channel 1 of the last pulse chart feed, in ticks
  bool fed_interval_view_ = true;        // that feed drew intervals, not frequencies
  std::vector<analysis::StabilityRow> stability_;
  RecordDisplay record_;
  std::optional<acquisition::DualStamps> stamps_;
  bool new_run_block_ = false;
};

}  // namespace app
