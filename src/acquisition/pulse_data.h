#pragma once

#include <array>
#include <cstdint>

namespace acquisition {

// Capacity of the interval arrays: intervals 1 to 5000, that is records 0 to 5000.
inline constexpr int kMaxIntervals = 5000;

// The records a sample reply held (accepted in index order) against the most its header
// announced for either channel. Both 0 for input that is no decoded reply.
struct ReplyRecords {
  int64_t held = 0;
  int64_t announced = 0;
  bool Short() const { return held < announced; }
};

// The intervals of one processing pass, in ticks. Index i >= 1 holds the interval that ends at
// record i; index 0 is never used. The arrays are never cleared, so slots a pass does not reach
// keep older values. Ch1Average and Ch2Average hold interval sums while the input is decoded.
struct PulseData {
  std::array<double, kMaxIntervals + 1> Ch1Intervals{};
  std::array<double, kMaxIntervals + 1> Ch2Intervals{};
  int64_t Ch1Count = 0;
  int64_t Ch2Count = 0;
  double Ch1Average = 0;
  double Ch2Average = 0;
  ReplyRecords reply;  // set by the reply decoding only
};

}  // namespace acquisition
