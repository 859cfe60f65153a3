#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/channel_pairing.h"

// Pulse security of two lines that carry the same flow (a meter's two outputs, usually 90
// degrees apart): what a receiver that watches count, phase and sequence of both lines would
// alarm on.
//
// What the comparison catches: a pulse lost or added on one line (its pulse has no partner on
// the other line, or the other line has a pulse where this one has a gap), two pulses of a pair
// in the wrong order, and a phase that strays from the mean by more than the window. What it
// cannot catch: a pulse lost (or added) on both lines at the same moment, as interference on a
// shared cable or a fault ahead of both outputs would do; both lines then agree, and only each
// line's own period rule (a gap in its own pulse train) can show it while the rate is steady.
//
// Which line is at fault is told by the lines' own period rules: a pulse without a partner is
// "missing" on the other line when that line has a gap where the partner should be, and
// "extra" on its own line otherwise; a pulse closer than half a period to its neighbour is extra
// on its own line. Pure functions; any thread.
namespace analysis {

inline constexpr double kDefaultPhaseWindowDeg = 45;

enum class ChannelError { kMissingCh1, kMissingCh2, kExtraCh1, kExtraCh2, kSequence };

// "missing_ch1", "missing_ch2", "extra_ch1", "extra_ch2", "sequence".
constexpr std::string_view ChannelErrorName(ChannelError error) {
  switch (error) {
    case ChannelError::kMissingCh1:
      return "missing_ch1";
    case ChannelError::kMissingCh2:
      return "missing_ch2";
    case ChannelError::kExtraCh1:
      return "extra_ch1";
    case ChannelError::kExtraCh2:
      return "extra_ch2";
    case ChannelError::kSequence:
      break;
  }
  return "sequence";
}

struct ChannelErrorEntry {
  ChannelError error = ChannelError::kSequence;
  // Missing: the record of the first pulse after the gap on the line that lost it, where the
  // lost pulse would have been. Extra: the extra pulse's record. Sequence: channel 2's record.
  int64_t record = 0;
  double time_s = 0;  // from the earliest stamp of the two lines

  bool operator==(const ChannelErrorEntry&) const = default;
};

// Lines whose phase lies within this of 0 or +/-180 degrees keep no order: a meter with two
// identical outputs, or lines in antiphase. Their jitter crosses 0 (or 180) all the time, so
// such a pair neither shows a direction nor breaks the order.
inline constexpr double kOrderMarginDeg = 10;

// forward: channel 2 lags channel 1 in every judged pair that shows an order; reverse: it leads
// in every one; mixed: both are seen; none: no pair shows an order.
enum class Direction { kNone, kForward, kReverse, kMixed };

// "none", "forward", "reverse", "mixed".
constexpr std::string_view DirectionName(Direction direction) {
  switch (direction) {
    case Direction::kForward:
      return "forward";
    case Direction::kReverse:
      return "reverse";
    case Direction::kMixed:
      return "mixed";
    case Direction::kNone:
      break;
  }
  return "none";
}

// Counts that add up over the blocks of a run: a plain record a run summary can carry.
struct SecurityCounts {
  int64_t blocks = 0;
  int64_t paired = 0;
  int64_t unpaired_ch1 = 0;  // channel 1 pulses without a partner: missing_ch2 + extra_ch1
  int64_t unpaired_ch2 = 0;  // missing_ch1 + extra_ch2
  int64_t missing_ch1 = 0;
  int64_t missing_ch2 = 0;
  int64_t extra_ch1 = 0;
  int64_t extra_ch2 = 0;
  int64_t sequence_errors = 0;
  int64_t lagging = 0;  // pairs with channel 2 after channel 1: phase in [10, 170]
  int64_t leading = 0;  // phase in [-170, -10]

  void Add(const SecurityCounts& block);
  Direction DirectionSeen() const {
    if (lagging > 0 && leading > 0) return Direction::kMixed;
    if (lagging > 0) return Direction::kForward;
    if (leading > 0) return Direction::kReverse;
    return Direction::kNone;
  }
  bool operator==(const SecurityCounts&) const = default;
};

struct PulseSecurity {
  SecurityCounts counts;                  // blocks == 1
  std::vector<ChannelErrorEntry> errors;  // in time order
};

// Judges the pairs and pulses of a pairing that lie in the span both lines cover. A judged pair
// is a sequence error when its phase lies more than `window_deg` from the mean phase, or, when
// the mean keeps an order (kOrderMarginDeg or more from 0), on the other side of 0 from it
// (channel 2 leading where it lags, or lagging where it leads). A pairing that did not pair
// gives no counts beyond the block and no errors.
PulseSecurity JudgePulseSecurity(const ChannelPairing& pairing,
                                 double window_deg = kDefaultPhaseWindowDeg);

// What a block of two lines' stamps (ticks on one clock) gives: the pairing and its security.
struct ChannelsReport {
  ChannelPairing pairing;
  PulseSecurity security;
};

ChannelsReport AnalyseChannels(std::span<const int64_t> ch1, std::span<const int64_t> ch2,
                               double window_deg = kDefaultPhaseWindowDeg);

}  // namespace analysis
