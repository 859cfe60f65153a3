#pragma once

#include <cstdint>
#include <span>

// A read-only view of an indexed pulse train: the pulses present, each with its index on the
// grid of nominal periods and its stamp, and the stamps of the extra pulses merged away. The
// analyses that need to know where pulses are missing or extra (virtual proving, the jitter
// spectrum, the repeating pattern, the pairing of two channels) take this view, so they run the
// same on a train built from a reply, a loaded file or a whole stream log. Any thread; the
// spans must outlive the view.
namespace analysis {

struct TrainView {
  // Grid index of each pulse present: strictly increasing, index[0] == 0. A step of r > 1
  // between neighbours means r - 1 missing pulses between them.
  std::span<const int64_t> index;
  // Stamp of each pulse present in ticks (25 ns) from the first pulse: stamp[0] == 0, strictly
  // increasing, exact.
  std::span<const int64_t> stamp;
  // Stamps (ticks from the first pulse present, ascending) of the extra pulses merged away.
  std::span<const int64_t> extra_stamps;

  size_t Pulses() const { return stamp.size(); }
  bool Empty() const { return stamp.size() < 2; }
  int64_t LastIndex() const { return index.back(); }
  int64_t LastStamp() const { return stamp.back(); }
  // The mean period in ticks, t_last / K; the view must not be Empty().
  double Tau0Ticks() const {
    return static_cast<double>(LastStamp()) / static_cast<double>(LastIndex());
  }
};

}  // namespace analysis
