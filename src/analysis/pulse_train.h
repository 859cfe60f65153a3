#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/train_view.h"

// The rule that turns a run of pulse-to-pulse intervals (ticks of 25 ns) into a train of indexed
// pulses, at any rate the instrument stamps (periods of 8 ticks up to minutes), whatever the
// period's fraction of a tick:
//
// - The period P is an exact ratio: the sum of the intervals that span one period over their
//   count, both whole numbers. A first guess (the median interval) sorts the intervals; P is
//   taken again from the one-period intervals so found, and the intervals are sorted again with
//   it, until nothing changes.
// - An interval d spans r = round(d / P) periods (halves up): r - 1 pulses are missing inside it.
// - An interval under 3/4 of a period that spans one period with the next, to within a quarter
//   of one, ends at an extra pulse, farther from the grid than the pulse after it: the two
//   intervals merge into one. It is jitter instead where three intervals around the two span
//   three periods and fit as a window (below), which over an extra pulse they never do.
// - Jitter: an interval under half a period (r = 0) or of two periods (r = 2) may be one of a
//   few neighbouring intervals that span as many periods as there are of them, their inner
//   pulses each within 0.7 periods of where the outer two put it (the straight
//   line between them): an early or late pulse. The windows tried are the interval with the one
//   before, with the two before, with the one after, with one on each side, with the two after;
//   of those that fit, the one with the most short or two-period intervals wins (the first such
//   in that order), and makes every interval in it one period long. An interval is in one such
//   window at most.
// - Any other short interval ends at an extra pulse: it is merged into the interval after it
//   (again while the sum is still short), and a short last interval is dropped. Each merge
//   removes one extra pulse. An extra pulse in the last quarter of a period is kept, and the true
//   one after it goes: a one-period interval is placed without waiting for the next. The period
//   is summed over plain intervals only, none that took an extra pulse in.
// - A gap's count is fixed when the pulses present fix the period to better than half a pulse
//   over it: 2 standard errors of P times r below P / 2, the standard error taken as
//   sqrt((gaps + 1) * v) / n for n one-period intervals of variance v (at least the 1/6 tick^2 of
//   the stamps' quantisation): the error of P comes from the ends of the runs between gaps, as
//   it does for stamps that scatter independently about a steady rate.
// - The decision is ambiguous, and the train says so, where P is under 8 ticks (by more than
//   1 in 1000, the room an estimate of exactly 8 needs), where the RMS
//   spread of the one-period intervals about P is over P / 4, where a gap's count is not fixed,
//   and where P does not settle.
//
// Plain functions and values; any thread.
namespace analysis {

// The fewest ticks of a period the rule takes as sound.
inline constexpr int64_t kShortestSoundPeriod = 8;

// A period as an exact ratio: `sum` ticks over `count` periods.
struct Period {
  int64_t sum = 0;
  int64_t count = 0;
  bool Valid() const { return sum > 0 && count > 0; }
  double Ticks() const {
    return count > 0 ? static_cast<double>(sum) / static_cast<double>(count) : 0.0;
  }
  // The same ratio, however it is written.
  bool Same(const Period& other) const {
    return static_cast<__int128>(sum) * other.count == static_cast<__int128>(other.sum) * count;
  }
};

// The median of the intervals (the mean of the two middle values for an even count) as a period,
// taken from at most 4097 of them spread evenly over the span: the first guess of the rule.
Period MedianPeriod(std::span<const int64_t> intervals);

// Whole periods in `ticks`: round(ticks / P), halves up; 0 below half a period. Exact.
int64_t PeriodsIn(__int128 ticks, Period period);

// The intervals found to span one period, and the gaps beside them: what the period and the
// soundness of each decision come from.
struct PeriodSums {
  int64_t sum = 0;
  int64_t count = 0;
  int64_t base = 0;  // the spread is summed about it, so that the squares stay small and exact
  __int128 deviation = 0;
  __int128 deviation2 = 0;
  int64_t gaps = 0;  // intervals of two periods or more

  void AddOne(int64_t interval) {
    sum += interval;
    ++count;
    const int64_t e = interval - base;  // both within the 2^62 ticks a train may span
    deviation += e;
    deviation2 += static_cast<__int128>(e) * e;
  }
  Period Ratio() const { return {sum, count}; }
  // RMS of the one-period intervals about their mean (the period), ticks.
  double SpreadTicks() const;
  // Whether the period is known well enough to count a gap of `periods` periods exactly.
  bool Fixes(int64_t periods) const;
};

// The rule applied one interval at a time. A pulse is handed on once nothing after it can move
// it: at once, unless an interval under 3/4 of a period or of two periods waits for up to two
// intervals after it.
// A Sink has `void Pulse(int64_t periods, int64_t stamp)` (the next pulse present, `periods`
// grid steps after the one before, its stamp in ticks from the first pulse) and
// `void Extra(int64_t stamp)` (an extra pulse merged away). The first pulse (index 0, stamp 0)
// is not handed on. A plain value; one thread at a time.
class PulseIndexer {
 public:
  // One-period intervals between two takings of a stream's period, at most.
  static constexpr int64_t kFollowStep = int64_t{1} << 16;

  PulseIndexer() = default;
  // Decisions take `period` (valid); gaps are judged against `judge`.
  PulseIndexer(Period period, const PeriodSums& judge);

  // From here on, decisions and judgements take the one-period intervals placed so far: the
  // rule of a stream, which cannot see ahead. The period is taken again each time their count
  // has doubled or grown by kFollowStep, not at every interval: a period that moved between two
  // neighbouring decisions could sort the same pair of intervals two ways (at an exact whole
  // period, intervals of exactly half and one and a half periods are common).
  void FollowOwnSums();

  template <class Sink>
  void Add(int64_t interval, Sink& sink);
  // The end of the intervals: the waiting ones are settled.
  template <class Sink>
  void Finish(Sink& sink);

  // Pulses wait for the next interval.
  bool Pending() const { return queued_ > 0; }
  const PeriodSums& Sums() const { return sums_; }
  int64_t ExtraPulses() const { return extra_; }
  int64_t MissingPulses() const { return missing_; }
  int64_t UnfixedGaps() const { return unfixed_; }
  int64_t LongestUnfixedGap() const { return longest_unfixed_; }

 private:
  // An interval and the pulse it ends at.
  struct Item {
    int64_t value = 0;
    int64_t end = 0;
    bool plain = true;  // no extra pulse merged into it
    bool used = false;  // in a window of jitter already
  };
  enum class Fit { kFound, kWait, kNone };

  int64_t Periods(__int128 ticks) const;
  void SetBand();
  void Follow();
  bool Window(std::span<Item* const> items) const;
  Fit FindWindow(bool last);
  Fit MiddleExtra(bool last);
  void Pop();
  template <class Sink>
  [[gnu::always_inline]] void Place(int64_t periods, const Item& item, Sink& sink);
  template <class Sink>
  void Merge(Sink& sink);
  template <class Sink>
  void Settle(bool last, Sink& sink);

  Period period_;
  PeriodSums judge_;
  PeriodSums sums_;
  bool following_ = false;
  int64_t next_follow_ = 0;  // the one-period count at which the period is taken again
  int64_t lo_ = 1;           // one period: lo_ <= d < hi_; shorter than half a period: d < lo_
  int64_t hi_ = 2;
  // Under three quarters of a period, d < late_, an interval waits for the next: its end may be
  // an extra pulse late in a period, which the next completes to one, late_ <= sum < near_hi_.
  int64_t late_ = 1;
  int64_t near_hi_ = 2;
  int64_t t_ = 0;  // the latest raw pulse, ticks from the first
  // The last two intervals placed since a gap: the latest at recent_[latest_].
  Item recent_[2];
  int latest_ = 0;
  int recents_ = 0;
  // Intervals waiting behind a short or two-period one at the front.
  Item queue_[3];
  int queued_ = 0;
  int64_t extra_ = 0;
  int64_t missing_ = 0;
  int64_t unfixed_ = 0;
  int64_t longest_unfixed_ = 0;
};

// Why a train's decisions are not sound ("" when they are): the period under 8 ticks, the spread
// over a quarter period, gaps whose count is not fixed, a period that did not settle.
std::string Ambiguity(const PeriodSums& sums, int64_t unfixed_gaps, int64_t longest_unfixed,
                      bool settled);

// The fewest intervals, once extra pulses are merged (or between phase points), for which the
// timing figures and the stability table are given.
inline constexpr int64_t kFewestTimingIntervals = 3;
inline bool EnoughTimingIntervals(int64_t intervals) { return intervals >= kFewestTimingIntervals; }

// A train of the pulses present, on a grid of whole periods.
struct PulseTrain {
  std::vector<int64_t> index;         // grid index of each pulse present, from 0, increasing
  std::vector<int64_t> stamp;         // its stamp, ticks from the first pulse
  std::vector<int64_t> extra_stamps;  // the extra pulses merged away, ascending
  int64_t intervals = 0;              // between neighbouring pulses present
  int64_t extra_pulses = 0;
  int64_t missing_pulses = 0;
  Period period;
  std::string ambiguous;  // why the decisions are not sound; empty when they are

  TrainView View() const { return {index, stamp, extra_stamps}; }
  // Fewer than two pulses: no interval to analyse.
  bool Empty() const { return stamp.size() < 2; }
  size_t Pulses() const { return stamp.size(); }
  int64_t LastIndex() const { return index.back(); }
  int64_t LastStamp() const { return stamp.back(); }
  // The mean period in ticks, t_last / K.
  double Tau0Ticks() const;
  // K * x of the i-th pulse present in ticks: K * t - k * t_last, exact.
  __int128 ScaledPhase(size_t i) const;
  // x = t - k * tau0 of the i-th pulse present, seconds.
  double PhaseSeconds(size_t i) const;
};

// Builds the train from raw intervals in ticks. A train without a period (no interval, or a
// median not above 0) has no pulses; one whose intervals all merge away has only the first.
// O(N) per pass over the intervals, two passes when the period settles at once.
PulseTrain BuildPulseTrain(std::span<const int64_t> intervals);

// ---- PulseIndexer's steps ----

template <class Sink>
inline void PulseIndexer::Place(int64_t periods, const Item& item, Sink& sink) {
  sink.Pulse(periods, item.end);
  if (periods == 1) {
    if (item.plain) {
      sums_.AddOne(item.value);
      if (following_ && sums_.count >= next_follow_) Follow();
    }
    latest_ ^= 1;
    recent_[latest_] = item;
    recents_ = recents_ < 2 ? recents_ + 1 : 2;
    return;
  }
  recents_ = 0;
  missing_ += periods - 1;
  ++sums_.gaps;
  if (!judge_.Fixes(periods)) {
    ++unfixed_;
    if (periods > longest_unfixed_) longest_unfixed_ = periods;
  }
}

// The pulse the front interval ends at is extra: the interval goes into the next one, or is
// dropped at the end.
template <class Sink>
void PulseIndexer::Merge(Sink& sink) {
  sink.Extra(queue_[0].end);
  ++extra_;
  if (queued_ >= 2) {
    queue_[1].value += queue_[0].value;
    queue_[1].plain = false;
  }
  Pop();
}

// Places what can be placed from the front of the queue; `last`: no interval follows.
template <class Sink>
void PulseIndexer::Settle(bool last, Sink& sink) {
  while (queued_ > 0) {
    Item& head = queue_[0];
    if (!head.used && head.value < late_) {
      const Fit middle = MiddleExtra(last);
      if (middle == Fit::kWait) return;
      if (middle == Fit::kFound) {
        Merge(sink);
        continue;
      }
    }
    const int64_t periods = head.used ? 1 : Periods(head.value);  // used: in a window already
    if (periods == 1 || periods >= 3) {
      Place(periods, head, sink);
      Pop();
      continue;
    }
    const Fit fit = FindWindow(last);
    if (fit == Fit::kWait) return;
    if (fit == Fit::kFound) {
      head.used = true;
      Place(1, head, sink);
      Pop();
    } else if (periods == 2) {
      Place(2, head, sink);
      Pop();
    } else if (queued_ >= 2 || last) {  // an extra pulse: merged into the next, or dropped
      Merge(sink);
    } else {
      return;
    }
  }
}

template <class Sink>
void PulseIndexer::Add(int64_t interval, Sink& sink) {
  t_ += interval;
  if (queued_ == 0 && interval >= late_ && interval < hi_) {  // one period: the common case
    Place(1, Item{interval, t_}, sink);
    return;
  }
  queue_[queued_++] = Item{interval, t_};
  Settle(false, sink);
}

template <class Sink>
void PulseIndexer::Finish(Sink& sink) {
  Settle(true, sink);
}

}  // namespace analysis
