#include "app/record_views.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

#include "analysis/pulse_train.h"
#include "analysis/timing_input.h"
#include "common/error.h"
#include "presentation/proving_chart.h"
#include "presentation/spectrum_chart.h"

namespace app {
namespace {

constexpr size_t kReadChunk = size_t{1} << 20;

// The text of the log's first `lines` whole lines (all of them when it holds fewer), and
// whether a further whole line followed.
std::string LeadingLines(const std::string& path, int64_t lines, bool& more) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) throw common::FileError("Cannot open", path, errno);
  std::string text;
  int64_t ends = 0;
  bool full = false;  // the lines asked for are all in `text`
  more = false;
  std::vector<char> chunk(kReadChunk);
  while (size_t got = std::fread(chunk.data(), 1, chunk.size(), file.get())) {
    for (size_t i = 0; i < got; ++i) {
      if (chunk[i] != '\n') continue;
      if (full) {
        more = true;
        return text;
      }
      if (++ends == lines) {
        text.append(chunk.data(), i + 1);
        full = true;
      }
    }
    if (!full) text.append(chunk.data(), got);
  }
  if (std::ferror(file.get())) throw common::FileError("Cannot read", path, errno);
  if (!full) text.resize(text.rfind('\n') + 1);  // npos + 1 is 0: no whole line yet
  return text;
}

RecordViews ViewsOfTrain(const analysis::PulseTrain& train, RecordParts parts) {
  RecordViews views;
  views.intervals = train.intervals;
  if (train.Empty()) return views;
  const analysis::TrainView view = train.View();
  views.pattern = presentation::FindPattern(view);
  if (parts.proving) views.proving = presentation::ComputeProvingView(view, views.pattern);
  if (parts.spectrum) views.spectrum = presentation::ComputeSpectrumView(view);
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
  RecordViews views = ViewsOfTrain(analysis::BuildPulseTrain(intervals_ticks), parts);
  views.intervals = static_cast<int64_t>(intervals_ticks.size());
  return views;
}

std::vector<int64_t> ReadLogIntervals(const std::string& path, int64_t most, bool& truncated) {
  // The first line is no interval: it spans the time before the run.
  return analysis::StreamLogIntervals(LeadingLines(path, most + 1, truncated));
}

RecordWorker::~RecordWorker() {
  Drop();
  if (worker_.joinable()) worker_.join();
}

void RecordWorker::Start(const std::string& log_path, RecordParts parts, Done done) {
  Job job{log_path, parts, std::move(done), generation_.load()};
  if (Busy()) {
    waiting_ = std::move(job);
    return;
  }
  worker_ = std::thread([this, job = std::move(job)]() mutable { Run(std::move(job)); });
}

// On the worker thread: nothing here touches the window.
void RecordWorker::Run(Job job) {
  RecordViews views;
  std::string error;
  try {
    bool truncated = false;
    analysis::PulseTrain train;
    {
      // The text and the intervals go before the analysis takes its share of the memory.
      const std::vector<int64_t> intervals =
          ReadLogIntervals(job.log_path, kWholeRunIntervals, truncated);
      if (job.generation == generation_.load()) train = analysis::BuildPulseTrain(intervals);
    }
    if (job.generation == generation_.load()) views = ViewsOfTrain(train, job.parts);
    views.truncated = truncated;
  } catch (const common::Error& e) {
    error = e.Message();
  } catch (const std::exception& e) {
    error = e.what();
  }
  QMetaObject::invokeMethod(
      this,
      [this, job = std::move(job), views = std::move(views), error] {
        Finished(job, views, error);
      },
      Qt::QueuedConnection);
}

void RecordWorker::Finished(const Job& job, const RecordViews& views, const std::string& error) {
  worker_.join();
  if (job.generation == generation_.load()) job.done(views, error);
  if (waiting_) {
    Job next = std::move(*waiting_);
    waiting_.reset();
    worker_ = std::thread([this, next = std::move(next)]() mutable { Run(std::move(next)); });
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
  worker_.Drop();
  run_.reset();
  log_path_.clear();
  refreshed_.reset();
  Draw();
}

void RecordDisplay::RunLive(const std::string& log_path) { log_path_ = log_path; }

void RecordDisplay::RunPass(bool record_view_in_front, Clock::time_point now) {
  if (!proving_chart_ || log_path_.empty() || !record_view_in_front || worker_.Busy()) return;
  if (refreshed_ && now - *refreshed_ < kRunRefresh) return;
  refreshed_ = now;
  // A log being written may be read at any moment: a half-written last line waits.
  worker_.Start(log_path_, {.proving = true, .spectrum = true},
                [this](const RecordViews& views, const std::string& error) {
                  if (!error.empty()) return;  // taken again at the next refresh or the stop
                  run_ = views;
                  Draw();
                });
}

void RecordDisplay::RunStopped(const std::string& log_path) {
  log_path_.clear();
  if (!proving_chart_) return;
  worker_.Start(log_path, {.proving = true, .spectrum = true},
                [this](const RecordViews& views, const std::string& error) {
                  if (!error.empty()) {
                    if (error_) error_(error);
                    return;
                  }
                  run_ = views;
                  Draw();
                });
}

void RecordDisplay::DropRun() {
  if (!run_ && log_path_.empty() && !worker_.Busy()) return;
  worker_.Drop();
  log_path_.clear();
  run_.reset();
  Draw();
}

std::string RecordDisplay::ProvingTable() const {
  const RecordViews& shown = Shown();
  return shown.proving ? presentation::ProvingCsv(*shown.proving) : std::string();
}

std::string RecordDisplay::SpectrumTable() const {
  const RecordViews& shown = Shown();
  return shown.spectrum ? presentation::SpectrumCsv(*shown.spectrum) : std::string();
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
