#include "analysis/run_tracker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace analysis {
namespace {

// Words fed per hold of the figures' lock, so a summary waits milliseconds at most.
constexpr size_t kFeedPiece = 4096;
// On a busy machine the threads that receive and log come first: a word they miss is lost for
// good, while the figures only fall behind for a while.
constexpr int kNiceness = 10;

}  // namespace

RunTracker::RunTracker(int deepest_octave, size_t queue_words)
    : deepest_octave_(deepest_octave), queue_words_(queue_words), worker_([this] { Work(); }) {}

RunTracker::~RunTracker() {
  {
    std::lock_guard lock(queue_mutex_);
    quit_ = true;
  }
  queue_changed_.notify_all();
  worker_.join();
}

void RunTracker::Begin(Clock::time_point start) {
  std::unique_lock lock(queue_mutex_);
  queue_.clear();
  queue_changed_.wait(lock, [this] { return !busy_; });
  behind_ = false;
  heard_ = 0;
  uncounted_ = 0;
  std::lock_guard figures(figures_mutex_);
  run_.emplace(deepest_octave_);
  start_ = start;
}

void RunTracker::Add(std::span<const int64_t> deltas) {
  {
    std::lock_guard lock(queue_mutex_);
    heard_ += static_cast<int64_t>(deltas.size());
    if (!behind_ && queue_.size() + deltas.size() > queue_words_) behind_ = true;
    if (behind_) {
      uncounted_ += static_cast<int64_t>(deltas.size());
      return;
    }
    for (const int64_t d : deltas) queue_.push_back(static_cast<uint32_t>(d));
  }
  queue_changed_.notify_all();
}

void RunTracker::Work() {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNiceness);
  std::vector<uint32_t> taken;
  std::unique_lock lock(queue_mutex_);
  for (;;) {
    queue_changed_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;
    taken.swap(queue_);
    queue_.clear();
    busy_ = true;
    lock.unlock();
    for (size_t at = 0; at < taken.size(); at += kFeedPiece) {
      std::lock_guard figures(figures_mutex_);
      if (!run_) break;
      const size_t end = std::min(taken.size(), at + kFeedPiece);
      for (size_t i = at; i < end; ++i) run_->AddWord(taken[i]);
    }
    lock.lock();
    busy_ = false;
    queue_changed_.notify_all();
  }
}

void RunTracker::SetLostWords(int64_t lost) {
  std::lock_guard lock(figures_mutex_);
  if (run_) run_->SetLostWords(lost);
}

bool RunTracker::Started() const {
  std::lock_guard lock(figures_mutex_);
  return run_.has_value();
}

RunSummary RunTracker::Summary() const {
  std::lock_guard lock(figures_mutex_);
  return run_ ? run_->Summary() : RunSummary{};
}

int64_t RunTracker::UncountedWords() const {
  std::lock_guard lock(queue_mutex_);
  return uncounted_;
}

RunSummary RunTracker::Final() {
  {
    std::unique_lock lock(queue_mutex_);
    queue_changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
  }
  std::lock_guard lock(figures_mutex_);
  return run_ ? run_->FinalSummary() : RunSummary{};
}

RunSummary RunTracker::Record(RunSummary final, Clock::time_point stop, std::string ended_early,
                              int64_t log_lines) const {
  {
    std::lock_guard lock(figures_mutex_);
    final.start = start_;
  }
  final.stop = stop;
  final.ended_early = std::move(ended_early);
  final.uncounted_words = std::max<int64_t>(0, log_lines - final.words);
  final.words = log_lines;
  return final;
}

}  // namespace analysis
