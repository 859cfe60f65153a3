#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/noise_id.h"
#include "analysis/pulse_train.h"
#include "analysis/squares_sum.h"
#include "analysis/stability.h"

// Whole-run statistics of a stream, kept up to date one logged word at a time, so that a run of
// any length can be summed up at its stop (and shown while it runs) without reading its log
// back. The figures are those `k390tool stability --stream` and the interval figures give on
// the same log:
//
// - Words are the lines of the log. The first is no pulse interval (it spans the time before the
//   run); every later word is one interval in ticks, and only those enter the interval figures,
//   the instrument time (their sum) and the pulse train. Word numbers are 1-based line numbers.
// - The pulses are indexed by the rule of BuildPulseTrain (pulse_train.h), one interval at a
//   time. The first kNominalIntervals intervals are held back and indexed together, exactly as
//   the batch rule indexes them; from then on each interval is judged by the period of the
//   one-period intervals before it (their exact sum over their count, taken again each time their
//   count doubles or grows by 2^16), and so is each gap's count.
//   A summary taken earlier, or at the stop of a shorter run, indexes what there is as the batch
//   rule does. The batch rule takes its period from the whole log: the two agree on every
//   interval unless it lies within the difference of the two periods (times its own periods) of
//   a rounding bound, which cannot happen where every gap's count was fixed by the pulses before
//   it and no interval lies within that difference of half a period from a whole number of
//   periods; a gap judged before the pulses fixed it is named in `ambiguous`.
// - A pulse that may still move (a short interval or a two-period one) waits for the two
//   intervals after it; a summary taken meanwhile settles it on a copy as the end of a log is
//   settled.
// - A gap of any length costs about as much as the widest factor's window (2^21 points at most):
//   once every window holds no pulse, the rest of the gap is counted at once.
// - OADEV, MDEV, TDEV and TIE rms come from exact integer sums of stamp differences, so they
//   equal StabilityTable on the same train to the last digits. A TIE rms term needs only its two
//   ends present, an MTIE window every point in it, an MDEV term at least half of its m second
//   differences (stability.h; only such a term's sum is divided, by their count, as the batch
//   divides it). MTIE cannot wait for the run's
//   final tau0: while the run lasts, each window's phase is taken against the mean period of the
//   pulses so far, fixed with the nominal and taken again each time the pulse count doubles, so
//   it differs from the batch figure by at most m times the largest change of that mean since.
//   FinalSummary takes every window again against the final tau0 from the stamps held, exact
//   integer levels as the batch table takes them, so its MTIE is the batch figure whenever the
//   run's grid (pulses and missing pulses) is no longer than the stamps held (4 times
//   2^deepest_octave, 4,194,304 points by default); a longer run keeps the running figure.
// - Every row carries the noise identified at its factor from the whole run, by the rule of the
//   batch table (noise_id.h): the phase of the pulses at 0, m, 2m ... is held as exact sums
//   (DecimatedNoise) and taken against the run's tau0 as it stands, so alpha is the batch's on
//   the same log, at deep factors too (where the B1 fallback's modified-to-normal ratio comes
//   from their estimated MDEV and OADEV). The bounds follow from alpha as StabilityTable gives
//   them (WithBounds).
// - Factors m = 1, 2, 4 ... while m <= K / 4. Up to 2^deepest_octave (2^20) they come from
//   every point as above. A deeper factor is taken on the points decimated by s = m / 256
//   (every s-th index, 256 kept points per factor): its rows are the batch formulas with their
//   sums over the starts i = 0, s, 2s ... only, so n is about 1/s of the batch's, and the
//   values are estimates of the same deviations from that subset (mean of fewer, strongly
//   overlapping terms). OADEV and TIE rms take the points at those starts; MDEV and TDEV take
//   sums of s consecutive stamps (blocks), so each of their terms is the batch's own term at
//   that start, phase averaged over all m points, not a decimated average that would
//   overstate white phase noise by sqrt(s). Over missing pulses a block stands for the mean
//   phase of the pulses it holds (against the tau0 of the summary), where they are at least
//   half of its s, and a term is the mean of the second differences of the block columns whose
//   three blocks stand, where at least half of its 256 columns do: the batch rule with a block
//   column in place of a point. MTIE looks only at the kept points, so it is a
//   lower bound of the batch's. They trail the log by up to s points (a block counts once
//   complete), and their bounds are taken as for the full set.
//   MTIE of a factor taken on every point comes from the window extremes of the factor below
//   (a window of m + 1 points is two of m / 2 + 1), with phases in double precision; it may
//   differ from the exact levels in the last digits.
//   The memory held stays under 51 MiB whatever the run length: 32 MiB of latest stamps
//   (2^22), 16 MiB of MTIE window extremes and about 26 KiB per deep factor.
//
// A plain value: one thread feeds it and takes summaries, or the caller holds a lock.
namespace analysis {

inline constexpr int64_t kNominalIntervals = 1000;
inline constexpr int kDeepestOctave = 20;
// Deeper factors keep 2^kDeepPointsOctave points per factor (fewer when deepest_octave is).
inline constexpr int kDeepPointsOctave = 8;

// The figures of a run: the running and final summaries, the window's Run line and whole-run
// view, and the summary file a stop writes (persistence::WriteRunSummary). The statistics fill
// the figures; the stop (RunTracker::Record and the face that heard it) fills the times, the
// counts of the stream path and why the run ended early.
struct RunSummary {
  std::chrono::system_clock::time_point start, stop;  // set for the summary file
  int64_t words = 0;              // lines of the log
  int64_t intervals = 0;          // words after the first
  double instrument_seconds = 0;  // sum of the intervals
  double mean_rate = 0;    // words per second of instrument time; NaN without instrument time
  int64_t lost_words = 0;  // as the stream path reported them
  int64_t foreign_datagrams = 0;  // datagrams from other senders, refused
  int64_t stray_bytes = 0;        // bytes that made no whole word
  int64_t missing_pulses = 0;
  int64_t extra_pulses = 0;
  std::string ambiguous;  // why the pulses' indexing is not sound; empty when it is
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
  std::string ended_early;  // why the run stopped before it was asked to; empty when it did not
  // Words of the log the figures do not cover: they could not keep up and gave up from there
  // on. 0 in a sound run.
  int64_t uncounted_words = 0;
};

// The deviations a run summary holds, in their order.
inline constexpr Deviation kRunDeviations[] = {
    Deviation::kOadev, Deviation::kMdev, Deviation::kTdev, Deviation::kTieRms, Deviation::kMtie};

class RunStatistics {
 public:
  // `deepest_octave` (0 .. kDeepestOctave) is the deepest factor 2^deepest_octave taken on
  // every point, and with it the stamps held (4 times that); deeper factors are decimated. A
  // smaller value is for tests of a short log that wraps and decimates.
  explicit RunStatistics(int deepest_octave = kDeepestOctave);

  // One word as written to the log (ticks). O(number of octaves) per grid point, a gap of any
  // length at most some 2^21 point steps; the word that fixes the period replays the intervals
  // held back until then.
  void AddWord(int64_t delta);
  // The stream path's count of words lost in its ring so far.
  void SetLostWords(int64_t lost) { lost_words_ = lost; }

  // The figures so far, MTIE the running figure: some 20 microseconds a factor for the noise
  // types, more while the run is still short of the period's intervals (they are replayed on a
  // copy), and a copy of the held buffers (up to some 50 MiB) while the last pulses wait for
  // the intervals after them.
  RunSummary Summary() const;
  // The same with MTIE taken again against the final tau0 where the run is held (see above):
  // O(K) a factor, for the run's stop.
  RunSummary FinalSummary() const;

  // Bytes held by the buffers, for the memory figures.
  size_t HeldBytes() const;
  // The most HeldBytes can reach, whatever the run length.
  static size_t MaxHeldBytes(int deepest_octave = kDeepestOctave);

 private:
  // Sums of squares: integer terms of moderate size exactly, others in extended precision.
  using Squares = SquaresSum;
  // Indices of a sliding window whose levels rise (minima) or fall (maxima) from the front;
  // indices are held by their low 32 bits, enough for a window of up to 2^20 + 1 points.
  struct ExtremeQueue {
    std::vector<uint32_t> tags;
    size_t head = 0;
    size_t size = 0;
  };
  struct Octave {
    int64_t m = 1;
    Squares oadev;
    Squares mdev;
    __int128 window = 0;  // sum of the last m second differences present
    int64_t gaps = 0;     // of those m, the ones that touch a missing point
    // MDEV terms of a deep factor that hold a block with missing points: term = u - d v, d the
    // final tau0 less base_ (ticks), summed as u^2, u v and v^2 (ticks^2); in mdev.n.
    long double mdev_uu = 0, mdev_uv = 0, mdev_vv = 0;
    int64_t step_offset = 0;  // m nominal periods, taken off each TIE step so its sums stay small
    __int128 tie_sum = 0;
    __int128 tie_sum2 = 0;
    int64_t tie_n = 0;   // TIE steps: both ends present
    int64_t mtie_n = 0;  // windows without a missing point
    // MTIE of a decimated factor: window queues over its grid.
    ExtremeQueue highs, lows;
    __int128 widest = 0;      // MTIE since the last change of tau0, in levels
    long double earlier = 0;  // MTIE before it, ticks
    // MTIE of a factor taken on every point: the highest and lowest phase (ticks) of the
    // windows of m + 1 points that ended at the latest m + 1 points, for the factor above,
    // whose window is two of these; and the widest span seen.
    std::vector<double> highest, lowest;
    size_t slot = 0;  // where the window ending at the next point goes
    double span = 0;
  };

  // Points on a grid of indices, each index `stride` points of the run apart.
  struct Grid {
    std::vector<int64_t> ring;  // the latest stamps by index
    size_t mask = 0;
    int64_t stride = 1;
    int64_t last = -1;  // the last index entered
    int64_t last_missing = -1;
    int64_t Stamp(int64_t k) const { return ring[static_cast<size_t>(k) & mask]; }
  };
  // The points present in a block: the sum of t(k) - k base_ (ticks), the sum of their offsets
  // k from the block's first index, and their count. Exact, whatever is missing.
  struct Block {
    __int128 phase = 0;
    int64_t offsets = 0;
    int64_t count = 0;
  };
  // One halving of the points: it pairs what the stage below hands on (the point at the start
  // of a block and the block's points), so its blocks are 2^(index + 1) points long.
  // The stages of deep factors keep a grid of those points and blocks.
  struct Stage {
    bool half = false;  // the first of a pair is waiting
    int64_t point = 0;
    Block block;
    bool gap = false;         // the block holds a missing point
    int64_t pair_points = 1;  // the points of each entry it pairs, 2^index
    bool hosts = false;
    Grid grid;
    std::vector<Block> blocks;  // by index, as the grid's ring
    int64_t last_gap = -1;
    Octave octave;
  };

  // What a stage takes in and hands on: the point at the start of a block and the block.
  struct Entry {
    int64_t point = 0;
    Block block;
    bool gap = false;
  };
  // Where the indexing hands its pulses.
  struct Placer {
    RunStatistics* run;  // none: the pulses are only counted
    void Pulse(int64_t periods, int64_t stamp);
    void Extra(int64_t) {}
  };

  void FixNominal();
  void Grow(int64_t j);
  void AddPoint(int64_t stamp);
  void AddGap(int64_t count);
  void CountGapTerms(Octave& o, int64_t from, int64_t to);
  void DecimateGap(int64_t count);
  void EnterMissing(Stage& st, int64_t count);
  Stage& StageAt(size_t i);
  bool Pair(Stage& st, Entry& e);
  void Decimate(int64_t j, int64_t stamp);
  void Enter(Stage& stage, int64_t point, const Block& block, bool gap);
  void BlockTerm(Stage& st, int64_t k);
  __int128 Level(const Grid& g, int64_t k) const;
  void Slide(const Grid& g, Octave& o, ExtremeQueue& q, int64_t j, __int128 level, bool highs);
  void Step(const Grid& g, Octave& o, int64_t j, __int128 level, bool queues);
  void ModifiedStep(Octave& o, int64_t j);
  void Rescan(const Grid& g, Octave& o, int64_t j, long double old_k);
  double Phase(int64_t k) const;  // of point k of the full grid, ticks; none: NaN
  void Spans(int64_t j, int64_t stamp, size_t from = 0);
  void Refill(int64_t j);
  void Rebase(int64_t j, int64_t stamp);
  const Octave* OctaveOf(int64_t m) const;
  std::vector<StabilityRow> Rows(bool final) const;
  double TieRms(const Octave& o, int64_t m) const;            // seconds; o has steps
  long double ModifiedSquares(const Octave& o) const;         // ticks^2, at the final tau0
  double Mtie(const Octave& o, int64_t m, bool final) const;  // seconds
  void AddNoiseTypes(std::vector<StabilityRow>& rows) const;
  // MTIE of factor m against the final tau0 from the held stamps, seconds; nullopt when the
  // ring no longer holds the whole run.
  std::optional<double> HeldMtie(int64_t m) const;
  RunSummary Summarise(bool final) const;

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

  // The indexing.
  std::vector<int64_t> held_;  // intervals before the period is fixed
  bool fixed_ = false;
  bool no_train_ = false;  // no period above 0: no pulse train, as in the batch rules
  bool settled_ = true;    // the first period settled
  PulseIndexer indexer_;
  int64_t base_ = 0;  // the whole ticks of the first period, taken off the TIE steps

  // The grid of every point: last index K, its stamp t_last and the latest stamps.
  Grid grid_;
  int64_t last_stamp_ = 0;
  std::vector<Stage> stages_;  // stage i halves the points i + 1 times
  // The phase levels of MTIE: ref_k t(k) - k ref_t, against tau0 = ref_t / ref_k.
  int64_t ref_t_ = 0;
  int64_t ref_k_ = 1;
  double last_phase_ = 0;  // of the latest point of the full grid; NaN when it is missing
  std::vector<Octave> octaves_;
  // The noise at each factor 2^p, fed the pulses at multiples of 2^p.
  std::vector<DecimatedNoise> noise_;
};

}  // namespace analysis
