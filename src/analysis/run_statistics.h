#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/pulse_train.h"
#include "analysis/squares_sum.h"
#include "analysis/stability.h"
#include "persistence/run_summary.h"

// Whole-run statistics of a stream, kept up to date one logged word at a time, so that a run of
// any length can be summed up at its stop (and shown while it runs) without reading its log
// back. The figures are those `k390tool stability --stream` and the interval figures give on
// the same log:
//
// - Words are the lines of the log. The first is no pulse interval (it spans the time before the
//   run); every later word is one interval in ticks, and only those enter the interval figures,
//   the instrument time (their sum) and the pulse train. Word numbers are 1-based line numbers.
// - The nominal interval is the median of the first kNominalIntervals intervals (the mean of the
//   two middle values for an even count), as NominalInterval computes it. Until that many have
//   arrived they are held back; a summary taken earlier, or at the stop of a shorter run, uses
//   the median of all the intervals so far, which is then exactly the nominal the batch tool
//   takes from the same log. (For a longer run the batch tool takes the median of every interval;
//   the two agree on every extra and missing pulse unless an interval lies between the limits
//   the two medians set.)
// - Extra pulses are merged and missing pulses counted by MergeExtraPulses and SpannedPeriods;
//   a short interval still waiting for its successor counts as an extra pulse, as a short last
//   interval does in the batch rules.
// - OADEV, MDEV, TDEV and TIE rms come from exact integer sums of stamp differences, so they
//   equal StabilityTable on the same train to the last digits. MTIE cannot wait for the run's
//   final tau0: each window's phase is taken against the mean period of the pulses so far, fixed
//   with the nominal and taken again each time the pulse count doubles, so it differs from the
//   batch figure by at most m times the largest change of that mean since. In a run no longer
//   than the nominal's intervals it is exact. The rows
//   carry no noise type and no bounds unless the caller passes the noise of each factor.
// - Factors m = 1, 2, 4 ... up to 2^kDeepestOctave while m <= K / 4; deeper factors are left out.
//   The memory held stays under 49 MiB whatever the run length: 32 MiB of latest stamps (2^22)
//   and, at worst, 16 MiB of MTIE window indices.
//
// A plain value: one thread feeds it and takes summaries, or the caller holds a lock.
namespace analysis {

inline constexpr int64_t kNominalIntervals = 1000;
inline constexpr int kDeepestOctave = 20;

struct RunSummary {
  int64_t words = 0;              // lines of the log
  int64_t intervals = 0;          // words after the first
  double instrument_seconds = 0;  // sum of the intervals
  double mean_rate = 0;    // words per second of instrument time; NaN without instrument time
  int64_t lost_words = 0;  // as the stream path reported them
  int64_t missing_pulses = 0;
  int64_t extra_pulses = 0;
  // Raw intervals in ticks, before any merge; zero (words 0) without intervals.
  int64_t min_interval = 0;
  int64_t min_interval_word = 0;
  int64_t max_interval = 0;
  int64_t max_interval_word = 0;
  double mean_interval = 0;
  double std_interval = 0;  // population standard deviation, ticks
  int64_t pp_ticks = 0;
  double pp_pct = 0;  // of the mean interval
  // OADEV, MDEV, TDEV, TIE rms, MTIE: by deviation, then by factor, as StabilityTable orders
  // them.
  std::vector<StabilityRow> stability;
};

// The deviations a run summary holds, in their order.
inline constexpr Deviation kRunDeviations[] = {
    Deviation::kOadev, Deviation::kMdev, Deviation::kTdev, Deviation::kTieRms, Deviation::kMtie};

class RunStatistics {
 public:
  // `deepest_octave` (0 .. kDeepestOctave) caps the factors at 2^deepest_octave, and with them
  // the stamps held (4 times the cap); a smaller cap is for tests of a short log that wraps.
  explicit RunStatistics(int deepest_octave = kDeepestOctave);

  // One word as written to the log (ticks). O(number of octaves) per grid point; the word that
  // fixes the nominal replays the intervals held back until then.
  void AddWord(int64_t delta);
  // The stream path's count of words lost in its ring so far.
  void SetLostWords(int64_t lost) { lost_words_ = lost; }

  // The figures so far: a few microseconds; under a millisecond while the run is still short
  // of the nominal's intervals (they are replayed on a copy). `noise`, when given, names the
  // noise exponent at a factor (nullopt: none), from which the rows take alpha and bounds.
  RunSummary Summary(const std::function<std::optional<int>(int64_t m)>& noise = {}) const;

  // Bytes held by the buffers, for the memory figures.
  size_t HeldBytes() const;

 private:
  // Sums of squares: integer terms of moderate size exactly, others in extended precision.
  using Squares = SquaresSum;
  // Indices of a sliding window whose levels rise (minima) or fall (maxima) from the front;
  // indices are held by their low 32 bits, enough for a window of up to 2^20 + 1 points.
  struct ExtremeQueue {
    std::vector<uint32_t> slots;
    size_t head = 0;
    size_t size = 0;
  };
  struct Octave {
    int64_t m = 1;
    Squares oadev;
    Squares mdev;
    __int128 window = 0;      // sum of the last m second differences
    int64_t gaps = 0;         // of those, the ones that touch a missing point
    int64_t step_offset = 0;  // m nominal periods, taken off each TIE step so its sums stay small
    __int128 tie_sum = 0;
    __int128 tie_sum2 = 0;
    int64_t tie_n = 0;
    ExtremeQueue highs, lows;
    __int128 widest = 0;      // MTIE since the last change of tau0, in levels
    long double earlier = 0;  // MTIE before it, ticks
  };

  void FixNominal();
  void Merge(int64_t interval);
  void Place(int64_t interval);
  void AddPoint(int64_t stamp);
  int64_t Stamp(int64_t k) const { return ring_[static_cast<size_t>(k) & ring_mask_]; }
  __int128 Level(int64_t k) const;
  void Slide(Octave& o, ExtremeQueue& q, int64_t j, __int128 level, bool highs);
  void Step(Octave& o, int64_t j, __int128 level);
  void Rebase(int64_t j, int64_t stamp);
  std::vector<StabilityRow> Rows(const std::function<std::optional<int>(int64_t m)>& noise) const;

  int deepest_octave_;
  size_t ring_limit_;

  // Words and raw intervals.
  int64_t words_ = 0;
  int64_t lost_words_ = 0;
  int64_t first_interval_ = 0;  // the intervals' sums are taken about it, for precision
  __int128 sum_ = 0;
  __int128 shifted_sum_ = 0;
  __int128 shifted_sum2_ = 0;
  int64_t min_ = 0, max_ = 0, min_word_ = 0, max_word_ = 0;

  // The nominal and the merge.
  std::vector<int64_t> held_;  // intervals before the nominal is fixed
  bool fixed_ = false;
  bool no_train_ = false;  // the nominal is not above 0: no pulse train, as in the batch rules
  Nominal nominal_;
  bool carrying_ = false;
  int64_t carry_ = 0;
  int64_t extra_ = 0;
  int64_t missing_ = 0;

  // The grid: last index K, its stamp t_last, and the latest stamps by index.
  int64_t last_index_ = -1;
  int64_t last_stamp_ = 0;
  int64_t last_missing_ = -1;
  std::vector<int64_t> ring_;
  size_t ring_mask_ = 0;
  // The phase levels of MTIE: ref_k t(k) - k ref_t, against tau0 = ref_t / ref_k.
  int64_t ref_t_ = 0;
  int64_t ref_k_ = 1;
  std::vector<Octave> octaves_;
};

// The summary file's record of a run's figures.
persistence::RunSummaryRecord SummaryRecord(const RunSummary& summary,
                                            std::chrono::system_clock::time_point start,
                                            std::chrono::system_clock::time_point stop,
                                            std::optional<std::string> ended_early);

}  // namespace analysis
