#include "app/pass_display.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>

#include "analysis/histogram.h"
#include "app/channel_display.h"
#include "app/fmain_form.h"
#include "app/spin_edit.h"
#include "common/convert.h"
#include "common/error.h"
#include "presentation/chart_feed.h"
#include "presentation/chart_maths.h"
#include "presentation/feed_steps.h"
#include "presentation/histogram_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/timing_charts.h"
#include "presentation/timing_view.h"

namespace app {

using analysis::Figure;
using analysis::GraphView;

namespace {

// The Flight Time box's value in ms, none when it is no number.
std::optional<double> FlightTimeMs(const std::string& text) {
  try {
    return common::StrToFloat(text);
  } catch (const common::Error&) {
    return std::nullopt;
  }
}

// The views that draw the pulse chart; the others draw from the intervals of the pass.
bool PulseView(GraphView view) {
  return view == GraphView::kInterval || view == GraphView::kFrequency;
}

}  // namespace

// The boxes known before the chart feed keep their new texts when the feed refuses its limits;
// the later ones, the flight-time figures and the histogram then keep their old state.
void PassDisplay::Apply(const analysis::PassResult& result, GraphView view, bool stream_window) {
  if (!result.series2_title) return;
  const std::string& title = *result.series2_title;
  ui_.Charts().pulse->SetSeriesTitle(presentation::kSeriesCh2,
                                     QString::fromLatin1(title.data(), title.size()));
  if (result.outcome != analysis::PassOutcome::kFigures) return;
  analysis::FigureSheet next;
  next.Put(result.figures);
  ShowFigures(next, Figure::kAverageTicks, Figure::kCh1Seconds);
  if (PulseView(view)) FeedChart(result.chart, view);
  ShowFigures(next, Figure::kCh1Seconds, Figure::kFlightPulses);
  // The readout comes before the flight-time figures, which may refuse their text: a missing
  // pulse is named even then.
  if (ui_.AnalysisShown()) ShowTiming(*result.chart.data, view, stream_window);
  ShowFlight();
  if (view == GraphView::kHistogram) DrawHistogram(*result.chart.data);
}

// The pass has clamped the count to the arrays, so intervals 1 .. Ch1Count - 1 are this pass's.
// A reply or a loaded file is gone from the pass's input once shown, so both timing views are
// drawn from it whichever is in front: a switch of view finds them filled. A stream window is
// drawn again at every tick, and only the view in front pays for its analysis.
void PassDisplay::ShowTiming(const acquisition::PulseData& data, GraphView view,
                             bool stream_window) {
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  const std::span<const double> intervals(data.Ch1Intervals.data() + 1,
                                          static_cast<size_t>(std::max<int64_t>(0, last)));
  const bool tie = !stream_window || view == GraphView::kTie;
  const bool stability = !stream_window || view == GraphView::kStability;
  const presentation::TimingView timing =
      presentation::ComputeTimingView(intervals, {.tie = tie, .stability = stability});
  const std::string pattern =
      record_.ShowPass(intervals, {.proving = !stream_window || view == GraphView::kProving,
                                   .spectrum = !stream_window || view == GraphView::kSpectrum});
  if (timing.valid) {
    std::string readout = presentation::ReadoutText(timing.jitter);
    if (!pattern.empty()) readout += "   |   " + pattern;
    ui_.ShowReadout(QString::fromStdString(readout),
                    QString::fromStdString(presentation::PulseCountText(timing.jitter)));
    ui_.MarkFigures(QString::fromStdString(presentation::FigureMarkText(timing.jitter)));
  } else {
    ui_.ShowReadout({}, {});
    ui_.MarkFigures({});
  }
  // The TIE and Stability charts draw the channel chosen (channel 1 of a single-channel block).
  ui_.Channels()->Show(timing, stamps_ ? &*stamps_ : nullptr, {.tie = tie, .stability = stability},
                       new_run_block_);
  if (stability) stability_ = timing.stability;
  if (!PulseView(view)) KeepDrawnIntervals(data);
}

void PassDisplay::ShowFlight() {
  const analysis::FlightFigures flight =
      pass_.Flight({shown_.Number(Figure::kCh1Seconds), ui_.Flight().time_ms->text().toStdString(),
                    shown_.Number(Figure::kPeakToPeakPercent)});
  shown_.Put(flight);
  record_.ShowFlightTime(FlightTimeMs(ui_.Flight().time_ms->text().toStdString()));
  ShowFigure(Figure::kFlightPulses);
  ShowFigure(Figure::kQualityFactor);
  if (flight.error) throw common::Error(*flight.error);
  ShowFigure(Figure::kHeldQualityFactor);
}

void PassDisplay::Clear() {
  for (size_t f = 0; f < analysis::kFigureCount; ++f) {
    shown_.Clear(Figure(f));
    ShowFigure(Figure(f));
  }
  for (int series :
       {presentation::kSeriesCh1, presentation::kSeriesAverage, presentation::kSeriesCh2}) {
    ui_.Charts().pulse->ClearSeries(series);
  }
  ui_.Charts().pulse->Replot();
  ui_.Charts().histogram->ClearBars();
  ui_.Charts().histogram->Replot();
  if (ui_.AnalysisShown()) {
    ui_.ShowReadout({}, {});
    ui_.Charts().tie->Show(presentation::TimingView{});
    ui_.Charts().stability->Show({});
    record_.ClearPass();
    ui_.Channels()->Clear();
  }
  drawn_intervals_.clear();
  fed_intervals_.clear();
  stability_.clear();
}

void PassDisplay::BlankFigures(std::initializer_list<Figure> figures) {
  for (Figure figure : figures) {
    shown_.Clear(figure);
    ShowFigure(figure);
  }
}

void PassDisplay::ShowFigures(const analysis::FigureSheet& next, Figure from, Figure to) {
  for (size_t f = analysis::FigureIndex(from); f < analysis::FigureIndex(to); ++f) {
    shown_.Set(Figure(f), next.Value(Figure(f)));
    ShowFigure(Figure(f));
  }
}

// The figure boxes are displays without handlers, so their texts are set directly.
void PassDisplay::ShowFigure(Figure figure) {
  const QString shown = QString::fromStdString(shown_.Text(figure));
  if (figure == Figure::kFlightPulses) {
    ui_.Flight().pulses->setText(shown);
  } else if (ui_.FigureBox(figure)->text() != shown) {
    ui_.FigureBox(figure)->setText(shown);
  }
}

void PassDisplay::FeedChart(const analysis::ChartInput& input, GraphView view) {
  const bool interval_view = view == GraphView::kInterval;
  presentation::FeedPulseChart(*ui_.Charts().pulse, input, interval_view,
                               !ui_.Scale().bits->isChecked(), ui_.Scale().scale->Value());
  KeepDrawnIntervals(*input.data);
  fed_intervals_ = drawn_intervals_;
  fed_interval_view_ = interval_view;
}

void PassDisplay::DrawHistogram(const acquisition::PulseData& data) {
  const int band = ui_.Scale().scale->Value();
  presentation::DrawHistogram(*ui_.Charts().histogram,
                              analysis::ComputeHistogram(data, band, ui_.Capture().samples->Value()),
                              band);
  KeepDrawnIntervals(data);
}

std::vector<double> PassDisplay::SavedValues(GraphView view) const {
  const bool as_fed = PulseView(view);
  if (as_fed && fed_interval_view_) return fed_intervals_;
  const std::vector<double>& intervals = as_fed ? fed_intervals_ : drawn_intervals_;
  std::vector<double> values;
  values.reserve(intervals.size());
  for (double interval : intervals) values.push_back(presentation::PulseFrequency(interval));
  return values;
}

void PassDisplay::KeepDrawnIntervals(const acquisition::PulseData& data) {
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  drawn_intervals_.assign(data.Ch1Intervals.begin() + 1,
                          data.Ch1Intervals.begin() + 1 + std::max<int64_t>(0, last));
}

}  // namespace app
