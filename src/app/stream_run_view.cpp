#include "app/stream_run_view.h"

#include <QString>

#include "app/channel_display.h"
#include "app/fmain_form.h"
#include "app/pass_display.h"
#include "app/window_texts.h"
#include "persistence/run_summary.h"
#include "presentation/timing_charts.h"
#include "presentation/timing_view.h"

namespace app {

StreamRunView::StreamRunView(FmainForm& form, PassDisplay& display, Guard guarded)
    : form_(form), display_(display), guarded_(std::move(guarded)) {}

void StreamRunView::Started() {
  tracker_.Begin(analysis::RunTracker::Clock::now());
  run_.reset();
  display_.Record().RunStarted();
  display_.Clear();
  form_.SetChartTitle(QString::fromLatin1(texts::kWaitingChartTitle));
  form_.ShowStreamCounts({});
  // The last run's curve goes with it, whichever view is in front.
  if (form_.AnalysisShown()) form_.Charts().stability->Show({});
  Show();
}

void StreamRunView::Live(const acquisition::event::RunLive& live) {
  form_.SetChartTitle(QString::fromLatin1(texts::kChartTitle));
  display_.Record().RunLive(live.log_path);
  guarded_([&] { persistence::RemoveRunSummary(live.log_path); });
}

void StreamRunView::Stopped(const acquisition::event::RunStopped& stop, int64_t log_lines) {
  form_.SetChartTitle(QString::fromLatin1(texts::kChartTitle));
  if (!stop.logged) return;  // the previous log and its summary stand
  tracker_.SetLostWords(static_cast<int64_t>(stop.counts.lost_words));
  // The figures wait for every word still queued; the view then shows them all.
  const analysis::RunSummary final = tracker_.Final();
  written_ = tracker_.Record(final, analysis::RunTracker::Clock::now(), stop.failure, log_lines);
  written_.foreign_datagrams = static_cast<int64_t>(stop.counts.foreign_datagrams);
  written_.stray_bytes = static_cast<int64_t>(stop.counts.stray_bytes);
  guarded_([&] { persistence::WriteRunSummary(stop.log_path, written_); });
  if (!form_.AnalysisShown()) return;
  run_ = final;
  Show();
  // Only this run's record ever comes back: a new run drops the analysis.
  display_.Record().RunStopped(stop.log_path, log_lines,
                               [this, path = stop.log_path](const analysis::RunRecordAnalysis& r) {
                                 written_.record = r;
                                 guarded_([&] { persistence::WriteRunSummary(path, written_); });
                               });
}

void StreamRunView::AfterPass(bool stream_pass, bool had_records, int64_t log_lines) {
  if (!form_.AnalysisShown()) return;
  if (!stream_pass) {
    if (had_records) {
      run_.reset();
      display_.Record().DropRun();
    }
  } else if (tracker_.Started()) {
    run_ = tracker_.Summary();
    const analysis::GraphView view = form_.CheckedGraph();
    display_.Record().RunPass(
        view == analysis::GraphView::kProving || view == analysis::GraphView::kSpectrum,
        RecordDisplay::Clock::now(), log_lines);
  }
  Show();
}

void StreamRunView::Show() {
  if (!form_.AnalysisShown()) return;
  form_.ShowRunLine(run_ ? QString::fromStdString(presentation::RunLineText(*run_)) : QString());
  if (run_) {
    form_.Channels()->ShowWholeRun(
        run_->stability, QString::fromStdString(presentation::WholeRunTitle(run_->intervals)));
  }
}

}  // namespace app
