#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "analysis/run_statistics.h"

// The whole-run figures of a stream as the program sees them. The stream path's log step hands
// each logged word to Add on the receiving side; the figures are worked out on a thread of their
// own, so their cost (about a microsecond a word at a million words a second) never holds up the
// log. The words wait in a bounded queue: should the figures fall that far behind, they stop for
// the rest of the run and the words they did not take are counted, never silently skipped (a
// gap would make every later figure wrong). Summaries come from the window or logger thread.
namespace analysis {

// Words that may wait for the figures: some 8 s at a million words a second, 32 MiB.
inline constexpr size_t kRunQueueWords = size_t{8} << 20;

class RunTracker {
 public:
  using Clock = std::chrono::system_clock;

  explicit RunTracker(int deepest_octave = kDeepestOctave, size_t queue_words = kRunQueueWords);
  RunTracker(const RunTracker&) = delete;
  RunTracker& operator=(const RunTracker&) = delete;
  ~RunTracker();

  // A new run: the figures start from nothing.
  void Begin(Clock::time_point start);
  // Words as the log took them (the path's log sink). Never waits for the figures.
  void Add(std::span<const int64_t> deltas);
  void SetLostWords(int64_t lost);

  bool Started() const;
  // The figures of the words taken so far (a few words may still wait in the queue), with
  // the running MTIE.
  RunSummary Summary() const;
  // The figures of the whole run once every queued word is in, MTIE taken against the final
  // tau0 (RunStatistics::FinalSummary). For the stop: O(run length).
  RunSummary Final();
  // `final` as the summary file records it: the run started at Begin, stopped at `stop`;
  // `ended_early` empty when the run ran until it was asked to stop. Its words are the
  // `log_lines` the log's file holds (after a failed write, fewer than the figures heard of: its
  // buffer was lost); `uncounted_words` those the figures could not keep up with.
  RunSummary Record(RunSummary final, Clock::time_point stop, std::string ended_early,
                    int64_t log_lines) const;
  // Words the figures gave up on in this run.
  int64_t UncountedWords() const;

 private:
  void Work();

  int deepest_octave_;
  size_t queue_words_;

  mutable std::mutex queue_mutex_;
  std::condition_variable queue_changed_;
  std::vector<uint32_t> queue_;  // log deltas are below 2^32
  bool busy_ = false;            // the worker holds words taken from the queue
  bool behind_ = false;          // the queue overflowed in this run
  int64_t heard_ = 0;
  int64_t uncounted_ = 0;
  bool quit_ = false;

  mutable std::mutex figures_mutex_;
  std::optional<RunStatistics> run_;
  Clock::time_point start_{};

  std::thread worker_;
};

}  // namespace analysis
