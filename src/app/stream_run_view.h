#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "acquisition/capture_cycle.h"
#include "analysis/run_tracker.h"

namespace app {

class FmainForm;
class PassDisplay;

// The whole run of a stream as the window shows it. The tracker hears every logged word; each
// stream pass refreshes the Run line and the Stability view's whole-run curve, which stay after
// the stop until a pass of a block. Until the run's first word the window shows that it waits
// for the instrument and nothing of an earlier capture; the first word replaces the previous
// log and drops its summary, and a stop after it writes the run's summary beside the log.
// Window thread, but for Add.
class StreamRunView {
 public:
  // Runs an action under the window's error display.
  using Guard = std::function<void(const std::function<void()>& action)>;

  StreamRunView(FmainForm& form, PassDisplay& display, Guard guarded);

  // The intervals of logged words, in ticks. The receiving thread, under the stream path's
  // lock; the tracker has a lock of its own.
  void Add(std::span<const int64_t> deltas) { tracker_.Add(deltas); }
  void SetLostWords(int64_t lost) { tracker_.SetLostWords(lost); }

  // The run's events as the capture cycle publishes them. A summary file that cannot be removed
  // or written goes to the error display, so the rest of a start or a stop still runs.
  void Started();
  void Live(const acquisition::event::RunLive& live);
  // `log_lines`: the words the stream log's file holds.
  void Stopped(const acquisition::event::RunStopped& stop, int64_t log_lines);

  // After a pass: a stream pass shows the run so far; a block's pass with records shows its
  // own figures again, one without (a view or units switch after the stop) leaves the run.
  void AfterPass(bool stream_pass, bool had_records);
  // The Run line and the whole-run curve, drawn whichever view is in front so that the
  // Stability view shows the run when it comes.
  void Show();

  // The run shown, until a pass of a block.
  const std::optional<analysis::RunSummary>& Shown() const { return run_; }

 private:
  FmainForm& form_;
  PassDisplay& display_;
  Guard guarded_;
  analysis::RunTracker tracker_;
  std::optional<analysis::RunSummary> run_;
};

}  // namespace app
