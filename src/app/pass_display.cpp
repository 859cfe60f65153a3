#include "app/pass_display.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>

#include "analysis/histogram.h"
#include "app/fmain_form.h"
#include "app/spin_edit.h"
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

// The views that draw the pulse chart; the others draw from the intervals of the pass.
bool PulseView(GraphView view) {
  return view == GraphView::kInterval || view == GraphView::kFrequency;
}

}  // namespace

// The boxes known before the chart feed keep their new texts when the feed refuses its limits;
// the later ones, the flight-time figures and the histogram then keep their old state.
void PassDisplay::Apply(const analysis::PassResult& result, GraphView view) {
  if (!result.series2_title) return;
  const std::string& title = *result.series2_title;
  ui_.Chart1->SetSeriesTitle(presentation::kSeriesCh2,
                             QString::fromLatin1(title.data(), title.size()));
  if (result.outcome != analysis::PassOutcome::kFigures) return;
  const size_t fed = analysis::FigureIndex(Figure::kEint1);
  const size_t flight = analysis::FigureIndex(Figure::kLpcycles);
  for (size_t f = 0; f < fed; ++f) SetFigureText(Figure(f), result.texts[f]);
  pass_.Hold({result.held.pp_percent, pass_.Held().quality});
  if (PulseView(view)) FeedChart(result.chart, view);
  for (size_t f = fed; f < flight; ++f) SetFigureText(Figure(f), result.texts[f]);
  // The readout comes before the flight-time figures, which may refuse their text: a missing
  // pulse is named even then.
  if (ui_.AnalysisShown()) ShowTiming(*result.chart.data, view);
  ApplyFlight(result.flight);
  if (view == GraphView::kHistogram) DrawHistogram(*result.chart.data);
}

// The pass has clamped the count to the arrays, so intervals 1 .. Ch1Count - 1 are this pass's.
void PassDisplay::ShowTiming(const acquisition::PulseData& data, GraphView view) {
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  const std::span<const double> intervals(data.Ch1Intervals.data() + 1,
                                          static_cast<size_t>(std::max<int64_t>(0, last)));
  const presentation::TimingView timing = presentation::ComputeTimingView(
      intervals, {.tie = view == GraphView::kTie, .stability = view == GraphView::kStability});
  if (timing.valid) {
    ui_.ShowReadout(QString::fromStdString(presentation::ReadoutText(timing.jitter)),
                    QString::fromStdString(presentation::PulseCountText(timing.jitter)));
    ui_.MarkFigures(QString::fromStdString(presentation::FigureMarkText(timing.jitter)));
  } else {
    ui_.ShowReadout({}, {});
    ui_.MarkFigures({});
  }
  if (view == GraphView::kTie) ui_.Chart3->Show(timing);
  if (view == GraphView::kStability) {
    ui_.Chart4->Show(timing.stability);
    stability_ = timing.stability;
  }
  if (!PulseView(view)) KeepDrawnIntervals(data);
}

void PassDisplay::ApplyFlight(const analysis::FlightFigures& flight) {
  SetFigureText(Figure::kLpcycles, flight.pulses);
  SetFigureText(Figure::kEprove_err, flight.quality);
  if (flight.error) throw common::Error(*flight.error);
  if (flight.quality_peak) SetFigureText(Figure::kEpqf, *flight.quality_peak);
  pass_.Hold({pass_.Held().pp_percent, flight.held_quality});
}

void PassDisplay::Clear() {
  for (size_t f = 0; f < analysis::kFigureCount; ++f) SetFigureText(Figure(f), "");
  for (int series :
       {presentation::kSeriesCh1, presentation::kSeriesAverage, presentation::kSeriesCh2}) {
    ui_.Chart1->ClearSeries(series);
  }
  ui_.Chart1->Replot();
  ui_.Chart2->ClearBars();
  ui_.Chart2->Replot();
  if (ui_.AnalysisShown()) {
    ui_.ShowReadout({}, {});
    ui_.Chart3->Show(presentation::TimingView{});
    ui_.Chart4->Show({});
  }
  drawn_intervals_.clear();
  stability_.clear();
}

QString PassDisplay::FigureText(Figure figure) const {
  if (figure == Figure::kLpcycles) return ui_.Lpcycles->text();
  return ui_.FigureBox(figure)->text();
}

// The figure boxes are displays without handlers, so their texts are set directly.
void PassDisplay::SetFigureText(Figure figure, const std::string& text) {
  const QString shown = QString::fromStdString(text);
  if (figure == Figure::kLpcycles) {
    ui_.Lpcycles->setText(shown);
  } else if (ui_.FigureBox(figure)->text() != shown) {
    ui_.FigureBox(figure)->setText(shown);
  }
}

void PassDisplay::FeedChart(const analysis::ChartInput& input, GraphView view) {
  presentation::FeedPulseChart(*ui_.Chart1, input, view == GraphView::kInterval,
                               !ui_.RBbits->isChecked(), ui_.SEvscale->Value());
  KeepDrawnIntervals(*input.data);
}

void PassDisplay::DrawHistogram(const acquisition::PulseData& data) {
  presentation::DrawHistogram(
      *ui_.Chart2, analysis::ComputeHistogram(data, ui_.SEvscale->Value(), ui_.SEsamples->Value()));
  KeepDrawnIntervals(data);
}

std::vector<double> PassDisplay::SavedValues(GraphView view) const {
  std::vector<double> values;
  if (PulseView(view)) {
    const int count = ui_.Chart1->PointCount(presentation::kSeriesCh1);
    values.reserve(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
      values.push_back(ui_.Chart1->PointValue(presentation::kSeriesCh1, k));
  } else {
    values.reserve(drawn_intervals_.size());
    for (double interval : drawn_intervals_)
      values.push_back(presentation::PulseFrequency(interval));
  }
  return values;
}

void PassDisplay::KeepDrawnIntervals(const acquisition::PulseData& data) {
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  drawn_intervals_.assign(data.Ch1Intervals.begin() + 1,
                          data.Ch1Intervals.begin() + 1 + std::max<int64_t>(0, last));
}

}  // namespace app
