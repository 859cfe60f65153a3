#include "tracker_feed.h"

#include <sys/resource.h>
#include <unistd.h>

namespace k390tool {
namespace {

constexpr int kNiceness = 10;

}  // namespace

TrackerFeed::TrackerFeed(analysis::RunTracker& tracker)
    : tracker_(tracker), thread_([this] { Run(); }) {}

TrackerFeed::~TrackerFeed() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void TrackerFeed::Add(std::span<const int64_t> deltas) {
  {
    std::lock_guard lock(mutex_);
    pending_.insert(pending_.end(), deltas.begin(), deltas.end());
  }
  wake_.notify_one();
}

void TrackerFeed::Drain() {
  std::unique_lock lock(mutex_);
  drained_.wait(lock, [this] { return pending_.empty() && in_flight_ == 0; });
}

uint64_t TrackerFeed::Backlog() const {
  std::lock_guard lock(mutex_);
  return pending_.size() + in_flight_;
}

void TrackerFeed::Run() {
  // On a busy machine the receiving thread comes first: a word it misses is lost for good,
  // while the figures only fall behind for a while.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kNiceness);
  std::vector<int64_t> taken;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) break;  // stopping, and everything handed over is summed
    taken.swap(pending_);
    in_flight_ = taken.size();
    lock.unlock();
    tracker_.Add(taken);
    taken.clear();
    lock.lock();
    in_flight_ = 0;
    if (pending_.empty()) drained_.notify_all();
  }
}

}  // namespace k390tool
