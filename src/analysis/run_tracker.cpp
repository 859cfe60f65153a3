#include "analysis/run_tracker.h"

namespace analysis {

void RunTracker::Begin(Clock::time_point start) {
  std::lock_guard lock(mutex_);
  run_.emplace(deepest_octave_);
  start_ = start;
}

void RunTracker::Add(std::span<const int64_t> deltas) {
  std::lock_guard lock(mutex_);
  if (!run_) return;
  for (const int64_t delta : deltas) run_->AddWord(delta);
}

void RunTracker::SetLostWords(int64_t lost) {
  std::lock_guard lock(mutex_);
  if (run_) run_->SetLostWords(lost);
}

bool RunTracker::Started() const {
  std::lock_guard lock(mutex_);
  return run_.has_value();
}

RunSummary RunTracker::Summary(const std::function<std::optional<int>(int64_t m)>& noise) const {
  std::lock_guard lock(mutex_);
  return run_ ? run_->Summary(noise) : RunSummary{};
}

persistence::RunSummaryRecord RunTracker::Record(
    Clock::time_point stop, const std::string& ended_early,
    const std::function<std::optional<int>(int64_t m)>& noise) const {
  std::optional<std::string> why;
  if (!ended_early.empty()) why = ended_early;
  std::lock_guard lock(mutex_);
  return SummaryRecord(run_ ? run_->Summary(noise) : RunSummary{}, start_, stop, why);
}

}  // namespace analysis
