#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/pulse_pattern.h"
#include "analysis/run_record.h"
#include "presentation/proving_view.h"
#include "presentation/spectrum_view.h"

namespace presentation {
class ProvingChart;
class SpectrumChart;
}  // namespace presentation

namespace app {

// What the Proving and Spectrum views and the pattern in the readout show of one record: a
// block, a loaded list, or a whole streamed run read back from its log.
struct RecordViews {
  std::optional<analysis::PulsePattern> pattern;
  std::optional<presentation::ProvingView> proving;    // when asked for
  std::optional<presentation::SpectrumView> spectrum;  // when asked for
  int64_t intervals = 0;                               // taken from the record
  bool truncated = false;  // a log longer than kWholeRunIntervals: its first ones were taken
  // What the run's summary file records of the whole log, when asked for.
  std::optional<analysis::RunRecordAnalysis> record;
};

struct RecordParts {
  bool proving = false;
  bool spectrum = false;
  bool record = false;  // of a log only
};

// The intervals (ticks) as one train, its pattern, and the views `parts` asks for. Blocks and
// loaded lists: fractions of a tick are rounded as the timing views round them. Any thread;
// about 1 ms for a block of 5,000 intervals, seconds for millions.
RecordViews ComputeRecordViews(std::span<const double> intervals_ticks, RecordParts parts);
RecordViews ComputeRecordViews(std::span<const int64_t> intervals_ticks, RecordParts parts);

// The most intervals of a run the whole-run views take: about 2 h 20 min at 1 kHz. Reading them
// back and analysing them holds some 200 MiB for a moment (the intervals, 8 bytes each, then the
// train, 16 bytes a pulse, and the phase or the pattern-free stamps, 8 bytes each).
inline constexpr int64_t kWholeRunIntervals = int64_t{1} << 23;

// The whole-run views of a stream log whose writer has finished `log_lines` lines (the first is
// no interval): its first min(log_lines - 1, kWholeRunIntervals) intervals, so that a line still
// being written is never read. The summary's record is of the whole log, or says it is too long. None once `cancelled` is set: it is looked at between the steps
// (reading, the train, the pattern, the proving scan, the spectrum), each of which takes up to
// a second or two for millions of pulses. Throws common::Error when the log cannot be read or
// a line does not convert. Any thread.
std::optional<RecordViews> ComputeLogViews(const std::string& log_path, int64_t log_lines,
                                           RecordParts parts, const std::atomic<bool>& cancelled);

// Runs the whole-run views of a stream log on a thread of its own, so that reading back and
// analysing millions of pulses never stalls the window. One job at a time: a job asked for
// while one runs waits and replaces any job already waiting. The result (or the error's
// message) comes back on the window thread. Drop() cancels the running job (it stops at its
// next step and its result never comes) and forgets the waiting one; the destructor does the
// same and never waits: a job still in a step finishes it on its own and then ends. Window
// thread only.
class RecordWorker : public QObject {
 public:
  using Done = std::function<void(const RecordViews& views, const std::string& error)>;

  explicit RecordWorker(QObject* parent) : QObject(parent) {}
  ~RecordWorker() override;

  void Start(const std::string& log_path, int64_t log_lines, RecordParts parts, Done done);
  void Drop();
  // A job runs, or a cancelled one has not yet ended its step.
  bool Busy() const { return running_ != nullptr; }

 private:
  struct Job {
    std::string log_path;
    int64_t log_lines = 0;
    RecordParts parts;
    Done done;
  };
  // What a job's thread shares with the window: the cancel flag, and the worker to hand the
  // result to (null once the worker is gone), under the mutex.
  struct Shared {
    std::atomic<bool> cancelled = false;
    std::mutex mutex;
    RecordWorker* receiver = nullptr;
  };
  void Launch(Job job);
  void Finished(const std::shared_ptr<Shared>& shared, const Job& job,
                const std::optional<RecordViews>& views, const std::string& error);

  std::shared_ptr<Shared> running_;
  std::optional<Job> waiting_;
};

// The Proving and Spectrum charts and the pattern in the readout: a pass's record at once (a
// block, a loaded list, the stream window: a few thousand intervals, a few milliseconds), a
// streamed run's from its log on the worker. The run's views, once they come, stay in view
// until a new run or a pass of a block drops them. While a run lasts they are taken again at
// most every kRunRefresh, and only while one of the two views is in front; at its stop once
// more over the whole log. What is kept: the two views of the last pass and of the run (their
// curves, some 2 x 32,769 spectrum bins at most), never the pulses. Window thread only.
class RecordDisplay {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kRunRefresh = std::chrono::seconds(5);

  // `error` hears why a stopped run's log could not be analysed.
  void SetErrorSink(std::function<void(const std::string&)> error) { error_ = std::move(error); }

  // The charts to draw on, both or none (without the timing analysis).
  void SetCharts(presentation::ProvingChart* proving, presentation::SpectrumChart* spectrum);

  // The channel 1 intervals of a pass (ticks): the views `parts` asks for (those in front: a
  // stream window's are taken again at every pass) are drawn unless a run's are in view, the
  // other view is emptied. Returns the readout's pattern words (PatternText), empty without one.
  std::string ShowPass(std::span<const double> intervals_ticks, RecordParts parts);
  // Empties the pass's views, as a new capture does.
  void ClearPass();
  // The Flight Time box's value in ms, none when it does not read as a number.
  void ShowFlightTime(std::optional<double> flight_ms);

  // A streamed run: started (the previous run's views go), its log live at `log_path` (its
  // first word has replaced the previous log), a stream pass while it runs, its stop.
  // `log_lines`: the whole lines the log's file holds at the pass or the stop.
  void RunStarted();
  void RunLive(const std::string& log_path);
  void RunPass(bool record_view_in_front, Clock::time_point now, int64_t log_lines);
  // `recorded` hears, on the window thread, what the summary file records of the stopped run's
  // whole log (why not, when the log could not be read), even when a pass of a block has
  // dropped the run's views meanwhile; never once a new run has started.
  using Recorded = std::function<void(const analysis::RunRecordAnalysis&)>;
  void RunStopped(const std::string& log_path, int64_t log_lines, Recorded recorded);
  // A pass of a block: the run's views go, the block's come (a stopped run's record still
  // reaches its summary).
  void DropRun();
  bool RunShown() const { return run_.has_value(); }

  // What the charts show, as the chart menu saves it (empty when they show nothing).
  std::string ProvingTable() const;
  std::string SpectrumTable() const;

 private:
  void Draw();
  const RecordViews& Shown() const { return run_ ? *run_ : pass_; }

  std::function<void(const std::string&)> error_;
  RecordWorker worker_{nullptr};
  presentation::ProvingChart* proving_chart_ = nullptr;
  presentation::SpectrumChart* spectrum_chart_ = nullptr;
  RecordViews pass_;
  std::optional<RecordViews> run_;
  std::string log_path_;  // of the live run; empty when none is live
  std::optional<Clock::time_point> refreshed_;
  bool stop_pending_ = false;  // the stopped run's whole log is being analysed
  uint64_t views_of_ = 0;      // a run's views come into view only while this is unchanged
};

}  // namespace app
