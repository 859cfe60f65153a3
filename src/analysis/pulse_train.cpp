#include "analysis/pulse_train.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/huge_pages.h"
#include "common/ticks.h"

namespace analysis {
namespace {

// Passes the period may take to settle; a train that needs more says so.
constexpr int kMostPasses = 16;
// Intervals the first guess looks at.
constexpr size_t kMedianSample = 4097;
// The variance of an interval between two stamps each cut to whole ticks, ticks^2.
constexpr long double kQuantisation = 1.0L / 6.0L;

// The smallest d with d * parts * count >= times * sum: d >= P times / parts. With two parts,
// the bound of round(d / P) >= times / 2.
int64_t Bound(Period p, int times, int parts) {
  const __int128 num = static_cast<__int128>(times) * p.sum;
  const __int128 den = static_cast<__int128>(parts) * p.count;
  return static_cast<int64_t>((num + den - 1) / den);
}

struct CountSink {
  void Pulse(int64_t, int64_t) {}
  void Extra(int64_t) {}
};

struct TrainSink {
  PulseTrain& train;
  int64_t k = 0;
  void Pulse(int64_t periods, int64_t stamp) {
    k += periods;
    train.index.push_back(k);
    train.stamp.push_back(stamp);
  }
  void Extra(int64_t stamp) { train.extra_stamps.push_back(stamp); }
};

PeriodSums SumsFor(Period period) { return PeriodSums{.base = period.sum / period.count}; }

// One pass of the rule with a fixed period; the train is written when one is given.
PulseIndexer Pass(std::span<const int64_t> intervals, Period period, const PeriodSums& judge,
                  PulseTrain* train) {
  PulseIndexer indexer(period, judge);
  if (!train) {
    CountSink sink;
    for (int64_t d : intervals) indexer.Add(d, sink);
    indexer.Finish(sink);
    return indexer;
  }
  train->index.clear();
  train->stamp.clear();
  train->extra_stamps.clear();
  common::ReserveLarge(train->index, intervals.size() + 1);
  common::ReserveLarge(train->stamp, intervals.size() + 1);
  train->index.push_back(0);
  train->stamp.push_back(0);
  TrainSink sink{*train};
  for (int64_t d : intervals) indexer.Add(d, sink);
  indexer.Finish(sink);
  return indexer;
}

std::string Format(const char* format, auto... values) {
  char text[160];
  std::snprintf(text, sizeof text, format, values...);
  return text;
}

}  // namespace

Period MedianPeriod(std::span<const int64_t> intervals) {
  if (intervals.empty()) return {};
  std::vector<int64_t> sample;
  const size_t stride = (intervals.size() + kMedianSample - 1) / kMedianSample;
  sample.reserve(intervals.size() / stride + 1);
  for (size_t i = 0; i < intervals.size(); i += stride) sample.push_back(intervals[i]);
  const size_t mid = sample.size() / 2;
  std::nth_element(sample.begin(), sample.begin() + static_cast<ptrdiff_t>(mid), sample.end());
  const int64_t upper = sample[mid];
  if (sample.size() % 2 == 1) return {upper, 1};
  // The lower middle value is the largest of the lower half, which nth_element left unsorted.
  const int64_t lower =
      *std::max_element(sample.begin(), sample.begin() + static_cast<ptrdiff_t>(mid));
  return {lower + upper, 2};
}

int64_t PeriodsIn(__int128 ticks, Period p) {
  // round(d / P) = floor((2 d count + sum) / (2 sum)), halves up.
  if (ticks <= 0) return 0;
  const __int128 sum = p.sum;
  return static_cast<int64_t>((2 * ticks * p.count + sum) / (2 * sum));
}

double PeriodSums::SpreadTicks() const {
  if (count < 1) return 0;
  const long double n = static_cast<long double>(count);
  const long double mean = static_cast<long double>(deviation) / n;
  const long double var = static_cast<long double>(deviation2) / n - mean * mean;
  return static_cast<double>(std::sqrt(std::max(var, 0.0L)));
}

bool PeriodSums::Fixes(int64_t periods) const {
  if (count < 2) return false;
  const long double spread = SpreadTicks();
  const long double variance = std::max(spread * spread, kQuantisation);
  const long double n = static_cast<long double>(count);
  const long double standard_error = std::sqrt((static_cast<long double>(gaps) + 1) * variance) / n;
  const long double period = static_cast<long double>(sum) / n;
  return 4 * static_cast<long double>(periods) * standard_error < period;
}

PulseIndexer::PulseIndexer(Period period, const PeriodSums& judge)
    : period_(period), judge_(judge), sums_(SumsFor(period)) {
  SetBand();
}

void PulseIndexer::FollowOwnSums() {
  following_ = true;
  Follow();
}

void PulseIndexer::Follow() {
  next_follow_ = sums_.count + std::clamp<int64_t>(sums_.count, 1, kFollowStep);
  if (sums_.count == 0 || sums_.sum <= 0) return;
  period_ = sums_.Ratio();
  judge_ = sums_;
  SetBand();
}

int64_t PulseIndexer::Periods(__int128 ticks) const {
  if (ticks < lo_) return 0;
  if (ticks < hi_) return 1;
  return PeriodsIn(ticks, period_);
}

void PulseIndexer::SetBand() {
  lo_ = std::max<int64_t>(Bound(period_, 1, 2), 1);
  hi_ = Bound(period_, 3, 2);
  late_ = std::max<int64_t>(Bound(period_, 3, 4), lo_);
  near_hi_ = std::max<int64_t>(Bound(period_, 5, 4), late_ + 1);
}

// Consecutive intervals that span as many periods as there are of them, each inner pulse within
// 0.7 periods of where the outer two put it: |L p_j - j total| < 0.7 L P for the pulse after
// the j-th of L intervals, p_j ticks from the first pulse, `total` in all. (Jitter that moves a
// pulse half a period leaves it between two slots: the window puts it in the free one. An extra
// pulse beside a gap mostly sits farther out.)
bool PulseIndexer::Window(std::span<Item* const> items) const {
  const int64_t count = static_cast<int64_t>(items.size());
  __int128 total = 0;
  for (const Item* item : items) {
    if (item->value <= 0) return false;
    total += item->value;
  }
  if (Periods(total) != count) return false;
  const __int128 bound = static_cast<__int128>(7) * count * period_.sum;
  __int128 before = 0;
  for (int64_t j = 1; j < count; ++j) {
    before += items[static_cast<size_t>(j - 1)]->value;
    __int128 off = 10 * (count * before - j * total) * period_.count;
    if (off < 0) off = -off;
    if (off >= bound) return false;
  }
  return true;
}

// A window of jitter around the interval at the front of the queue, marking its neighbours. Of
// the windows that fit, the one with the most short or two-period intervals wins, so that an
// early pulse beside a late one is taken as one; it needs the two intervals after the front.
PulseIndexer::Fit PulseIndexer::FindWindow(bool last) {
  if (queued_ < 3 && !last) return Fit::kWait;
  Item* head = &queue_[0];
  Item& latest = recent_[latest_];
  Item& before = recent_[latest_ ^ 1];
  Item* p1 = recents_ >= 1 && !latest.used ? &latest : nullptr;
  Item* p2 = p1 && recents_ >= 2 && !before.used ? &before : nullptr;
  Item* a1 = queued_ >= 2 && !queue_[1].used ? &queue_[1] : nullptr;
  Item* a2 = a1 && queued_ >= 3 && !queue_[2].used ? &queue_[2] : nullptr;
  struct Candidate {
    Item* items[3];
    int size;
  };
  const Candidate candidates[] = {
      {{p1, head}, 2},     {{p2, p1, head}, 3}, {{head, a1}, 2},
      {{p1, head, a1}, 3}, {{head, a1, a2}, 3},
  };
  const Candidate* best = nullptr;
  int best_off = 0;
  for (const Candidate& c : candidates) {
    if (std::find(c.items, c.items + c.size, nullptr) != c.items + c.size) continue;
    if (!Window(std::span<Item* const>(c.items, static_cast<size_t>(c.size)))) continue;
    int off = 0;
    for (int k = 0; k < c.size; ++k) off += Periods(c.items[k]->value) != 1 ? 1 : 0;
    if (off > best_off) {
      best = &c;
      best_off = off;
    }
  }
  if (!best) return Fit::kNone;
  for (int k = 0; k < best->size; ++k) best->items[k]->used = true;
  return Fit::kFound;
}

// The front interval is under three quarters of a period and, with the next, spans a period to
// within a quarter of one: of the three pulses over the two, one is extra. The middle one is
// farther from the grid (a period after the first) than the last one, so it goes, unless jitter
// alone accounts for all three: three intervals around them span three periods and fit as a
// window. (An extra pulse spans two periods over those three intervals, not three.)
PulseIndexer::Fit PulseIndexer::MiddleExtra(bool last) {
  if (queued_ < 2) return last ? Fit::kNone : Fit::kWait;
  Item* head = &queue_[0];
  Item* next = &queue_[1];
  if (next->used) return Fit::kNone;
  const __int128 both = static_cast<__int128>(head->value) + next->value;
  if (both < late_ || both >= near_hi_) return Fit::kNone;
  if (queued_ < 3 && !last) return Fit::kWait;
  Item& latest = recent_[latest_];
  Item* const before[] = {recents_ >= 1 && !latest.used ? &latest : nullptr, head, next};
  Item* const after[] = {head, next, queued_ >= 3 && !queue_[2].used ? &queue_[2] : nullptr};
  if (before[0] && Window(before)) return Fit::kNone;
  if (after[2] && Window(after)) return Fit::kNone;
  return Fit::kFound;
}

void PulseIndexer::Pop() {
  for (int i = 1; i < queued_; ++i) queue_[i - 1] = queue_[i];
  --queued_;
}

std::string Ambiguity(const PeriodSums& sums, int64_t unfixed_gaps, int64_t longest_unfixed,
                      bool settled) {
  std::vector<std::string> why;
  const double period = sums.Ratio().Ticks();
  if (!settled) why.push_back("the period did not settle");
  // The estimate of a period of exactly 8 ticks may come out a hair below it.
  if (sums.count > 0 && 1000 * period < 999 * static_cast<double>(kShortestSoundPeriod)) {
    why.push_back(Format("the period, %.6g ticks, is under %lld", period,
                         static_cast<long long>(kShortestSoundPeriod)));
  }
  const double spread = sums.SpreadTicks();
  if (sums.count > 0 && 4 * spread > period) {
    why.push_back(
        Format("the one-period intervals spread %.4g ticks RMS, over a quarter of the "
               "%.6g tick period",
               spread, period));
  }
  if (unfixed_gaps > 0) {
    why.push_back(
        Format("%lld gap%s of up to %lld periods, longer than the pulses present fix "
               "the period to half a pulse",
               static_cast<long long>(unfixed_gaps), unfixed_gaps == 1 ? "" : "s",
               static_cast<long long>(longest_unfixed)));
  }
  std::string text;
  for (const std::string& w : why) text += (text.empty() ? "" : "; ") + w;
  return text;
}

double PulseTrain::Tau0Ticks() const {
  return static_cast<double>(LastStamp()) / static_cast<double>(LastIndex());
}

__int128 PulseTrain::ScaledPhase(size_t i) const {
  return static_cast<__int128>(LastIndex()) * stamp[i] -
         static_cast<__int128>(index[i]) * LastStamp();
}

double PulseTrain::PhaseSeconds(size_t i) const {
  return static_cast<double>(ScaledPhase(i)) / static_cast<double>(LastIndex()) *
         common::kTickSeconds;
}

PulseTrain BuildPulseTrain(std::span<const int64_t> intervals) {
  PulseTrain train;
  Period period = MedianPeriod(intervals);
  if (!period.Valid()) return train;
  // The first guess only sorts the intervals; each later pass writes the train.
  PeriodSums sums = Pass(intervals, period, SumsFor(period), nullptr).Sums();
  bool settled = false;
  PulseIndexer last;
  for (int pass = 1; pass <= kMostPasses && !settled; ++pass) {
    if (sums.Ratio().Valid()) period = sums.Ratio();
    last = Pass(intervals, period, sums, &train);
    settled = !last.Sums().Ratio().Valid() || last.Sums().Ratio().Same(period);
    sums = last.Sums();
  }
  // In the order of the intervals they rise already; only intervals below 0 (a damaged list)
  // can bring a stamp back.
  if (!std::is_sorted(train.extra_stamps.begin(), train.extra_stamps.end())) {
    std::sort(train.extra_stamps.begin(), train.extra_stamps.end());
  }
  train.period = period;
  train.intervals = static_cast<int64_t>(train.stamp.size()) - 1;
  train.extra_pulses = last.ExtraPulses();
  train.missing_pulses = last.MissingPulses();
  train.ambiguous = Ambiguity(sums, last.UnfixedGaps(), last.LongestUnfixedGap(), settled);
  return train;
}

}  // namespace analysis
