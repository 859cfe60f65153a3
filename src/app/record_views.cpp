#include "app/record_views.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>

#include "analysis/pulse_train.h"
#include "common/error.h"
#include "persistence/proving_csv.h"
#include "persistence/timing_files.h"
#include "presentation/proving_chart.h"
#include "presentation/spectrum_chart.h"

namespace app {
namespace {

const std::atomic<bool> kNeverCancelled = false;

// The summary's record is of the whole log, never of a part of it.
static_assert(kWholeRunIntervals >= analysis::kMostRecordIntervals);

// The views of a train, none once `cancelled` is set between its steps.
std::optional<RecordViews> ViewsOfTrain(const analysis::PulseTrain& train, RecordParts parts,
                                        const std::atomic<bool>& cancelled) {
  RecordViews views;
  views.intervals = train.intervals;
  if (train.Empty()) return views;
  const analysis::TrainView view = train.View();
  views.pattern = presentation::FindPattern(view);
  if (cancelled) return std::nullopt;
  if (parts.proving) views.proving = presentation::ComputeProvingView(view, views.pattern);
  if (cancelled) return std::nullopt;
  if (parts.spectrum) views.spectrum = presentation::ComputeSpectrumView(view);
  if (cancelled) return std::nullopt;
  return views;
}

}  // namespace

RecordViews ComputeRecordViews(std::span<const double> intervals_ticks, RecordParts parts) {
  std::vector<int64_t> ticks;
  ticks.reserve(intervals_ticks.size());
  for (double d : intervals_ticks) {
    if (!std::isfinite(d)) return {};
    ticks.push_back(std::llround(d));
  }
  return ComputeRecordViews(ticks, parts);
}

RecordViews ComputeRecordViews(std::span<const int64_t> intervals_ticks, RecordParts parts) {
  RecordViews views =
      *ViewsOfTrain(analysis::BuildPulseTrain(intervals_ticks), parts, kNeverCancelled);
  views.intervals = static_cast<int64_t>(intervals_ticks.size());
  return views;
}

std::optional<RecordViews> ComputeLogViews(const std::string& log_path, int64_t log_lines,
                                           RecordParts parts, const std::atomic<bool>& cancelled) {
  const int64_t whole = std::max<int64_t>(0, log_lines - 1);
  analysis::PulseTrain train;
  {
    // The intervals go before the analysis takes its share of the memory.
    const std::vector<int64_t> intervals =
        persistence::ReadStreamLogIntervals(log_path, std::min(whole, kWholeRunIntervals));
    if (cancelled) return std::nullopt;
    train = analysis::BuildPulseTrain(intervals);
  }
  if (cancelled) return std::nullopt;
  std::optional<RecordViews> views = ViewsOfTrain(train, parts, cancelled);
  if (!views) return views;
  views->truncated = whole > kWholeRunIntervals;
  if (parts.record) {
    views->record = whole > analysis::kMostRecordIntervals ? analysis::RecordOfTooLongRun(whole)
                                                           : analysis::AnalyseRunRecord(train);
    if (cancelled) return std::nullopt;
  }
  return views;
}

RecordWorker::~RecordWorker() {
  Drop();
  if (running_) {
    const std::lock_guard lock(running_->mutex);
    running_->receiver = nullptr;
  }
}

void RecordWorker::Start(const std::string& log_path, int64_t log_lines, RecordParts parts,
                         Done done) {
  Job job{log_path, log_lines, parts, std::move(done)};
  if (Busy()) {
    waiting_ = std::move(job);
    return;
  }
  Launch(std::move(job));
}

void RecordWorker::Drop() {
  if (running_) running_->cancelled = true;
  waiting_.reset();
}

void RecordWorker::Launch(Job job) {
  running_ = std::make_shared<Shared>();
  running_->receiver = this;
  // Detached: the thread holds only the job and the shared state, never the worker, so a
  // window that closes need not wait for it.
  std::thread([shared = running_, job = std::move(job)]() mutable {
    std::optional<RecordViews> views;
    std::string error;
    try {
      views = ComputeLogViews(job.log_path, job.log_lines, job.parts, shared->cancelled);
    } catch (const common::Error& e) {
      error = e.Message();
    } catch (const std::exception& e) {
      error = e.what();
    }
    const std::lock_guard lock(shared->mutex);
    RecordWorker* const receiver = shared->receiver;
    if (!receiver) return;
    QMetaObject::invokeMethod(
        receiver,
        [receiver, shared, job = std::move(job), views = std::move(views), error] {
          receiver->Finished(shared, job, views, error);
        },
        Qt::QueuedConnection);
  }).detach();
}

void RecordWorker::Finished(const std::shared_ptr<Shared>& shared, const Job& job,
                            const std::optional<RecordViews>& views, const std::string& error) {
  running_.reset();
  if (!shared->cancelled) job.done(views.value_or(RecordViews{}), error);
  if (waiting_) {
    Job next = std::move(*waiting_);
    waiting_.reset();
    Launch(std::move(next));
  }
}

void RecordDisplay::SetCharts(presentation::ProvingChart* proving,
                              presentation::SpectrumChart* spectrum) {
  proving_chart_ = proving;
  spectrum_chart_ = spectrum;
  Draw();
}

std::string RecordDisplay::ShowPass(std::span<const double> intervals_ticks, RecordParts parts) {
  if (!proving_chart_) return {};
  pass_ = ComputeRecordViews(intervals_ticks, parts);
  if (!run_) Draw();
  return presentation::PatternText(pass_.pattern);
}

void RecordDisplay::ClearPass() {
  pass_ = {};
  if (!run_) Draw();
}

void RecordDisplay::ShowFlightTime(std::optional<double> flight_ms) {
  if (proving_chart_) proving_chart_->ShowFlightTime(flight_ms);
}

void RecordDisplay::RunStarted() {
  // The new run's first word replaces the log a stopped run's analysis may still be reading.
  worker_.Drop();
  stop_pending_ = false;
  ++views_of_;
  run_.reset();
  log_path_.clear();
  refreshed_.reset();
  Draw();
}

void RecordDisplay::RunLive(const std::string& log_path) { log_path_ = log_path; }

void RecordDisplay::RunPass(bool record_view_in_front, Clock::time_point now, int64_t log_lines) {
  if (!proving_chart_ || log_path_.empty() || !record_view_in_front || worker_.Busy()) return;
  if (refreshed_ && now - *refreshed_ < kRunRefresh) return;
  refreshed_ = now;
  // The log is being written: only the lines its writer has finished are read.
  worker_.Start(log_path_, log_lines, {.proving = true, .spectrum = true},
                [this, of = views_of_](const RecordViews& views, const std::string& error) {
                  // taken again at the next refresh or the stop
                  if (!error.empty() || of != views_of_) return;
                  run_ = views;
                  Draw();
                });
}

void RecordDisplay::RunStopped(const std::string& log_path, int64_t log_lines,
                               Recorded recorded) {
  log_path_.clear();
  if (!proving_chart_) return;
  stop_pending_ = true;
  worker_.Start(log_path, log_lines, {.proving = true, .spectrum = true, .record = true},
                [this, of = views_of_, recorded = std::move(recorded)](
                    const RecordViews& views, const std::string& error) {
                  stop_pending_ = false;
                  if (!error.empty()) {
                    if (error_) error_(error);
                    analysis::RunRecordAnalysis none;
                    none.missing = error;
                    if (recorded) recorded(none);
                    return;
                  }
                  if (of == views_of_) {
                    run_ = views;
                    Draw();
                  }
                  if (recorded && views.record) recorded(*views.record);
                });
}

void RecordDisplay::DropRun() {
  if (!run_ && log_path_.empty() && !worker_.Busy()) return;
  // A stopped run's analysis goes on for its summary file; no view of the run comes back.
  ++views_of_;
  if (!stop_pending_) worker_.Drop();
  log_path_.clear();
  run_.reset();
  Draw();
}

std::string RecordDisplay::ProvingTable() const {
  const RecordViews& shown = Shown();
  return shown.proving && shown.proving->valid ? persistence::FormatProvingCsv(shown.proving->scan)
                                               : std::string();
}

std::string RecordDisplay::SpectrumTable() const {
  const RecordViews& shown = Shown();
  return shown.spectrum && shown.spectrum->valid
             ? persistence::FormatSpectrumCsv(shown.spectrum->spectrum)
             : std::string();
}

void RecordDisplay::Draw() {
  if (!proving_chart_) return;
  const RecordViews& shown = Shown();
  const QString scope =
      run_ ? QString::fromStdString(presentation::RunScopeText(run_->intervals, run_->truncated))
           : QString();
  proving_chart_->Show(shown.proving.value_or(presentation::ProvingView{}), scope);
  spectrum_chart_->Show(shown.spectrum.value_or(presentation::SpectrumView{}), scope);
}

}  // namespace app
