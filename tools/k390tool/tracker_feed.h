#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "analysis/run_tracker.h"

// The whole-run figures cost far more per word than logging it does (the sliding MTIE windows
// of every octave), so the logger does not sum them up on the receiving thread: the stream
// path's log sink hands the logged words over here, and a thread of its own feeds them to the
// run tracker. The receiving thread then only ever waits for a copy.
namespace k390tool {

class TrackerFeed {
 public:
  explicit TrackerFeed(analysis::RunTracker& tracker);
  TrackerFeed(const TrackerFeed&) = delete;
  TrackerFeed& operator=(const TrackerFeed&) = delete;
  ~TrackerFeed();

  // The log sink: any thread.
  void Add(std::span<const int64_t> deltas);
  // Returns once every word handed over has reached the tracker.
  void Drain();
  // Words handed over and not yet summed.
  uint64_t Backlog() const;

 private:
  void Run();

  analysis::RunTracker& tracker_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable drained_;
  std::vector<int64_t> pending_;
  uint64_t in_flight_ = 0;  // words taken by the thread and not yet summed
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace k390tool
