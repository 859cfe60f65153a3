#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "analysis/run_statistics.h"
#include "persistence/run_summary.h"

// The whole-run figures of a stream as the program sees them: a RunStatistics fed from the
// stream path's log step on the receiving thread and read by the window or the logger on
// another, behind a lock of its own. A summary costs microseconds, so the lock is never held
// long enough to slow the words down.
namespace analysis {

class RunTracker {
 public:
  using Clock = std::chrono::system_clock;

  explicit RunTracker(int deepest_octave = kDeepestOctave) : deepest_octave_(deepest_octave) {}

  // A new run: the figures start from nothing.
  void Begin(Clock::time_point start);
  // Words as the log took them (the path's log sink).
  void Add(std::span<const int64_t> deltas);
  void SetLostWords(int64_t lost);

  bool Started() const;
  RunSummary Summary(const std::function<std::optional<int>(int64_t m)>& noise = {}) const;
  // The summary file's record of the run up to now, stopped at `stop`; `ended_early` empty
  // when the run ran until it was asked to stop.
  persistence::RunSummaryRecord Record(Clock::time_point stop, const std::string& ended_early,
                                       const std::function<std::optional<int>(int64_t m)>& noise =
                                           {}) const;

 private:
  int deepest_octave_;
  mutable std::mutex mutex_;
  std::optional<RunStatistics> run_;
  Clock::time_point start_{};
};

}  // namespace analysis
