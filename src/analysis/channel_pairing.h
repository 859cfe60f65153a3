#pragma once

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "analysis/pulse_train.h"

// The pairing of two pulse lines stamped on one 40 MHz clock (a meter's two outputs, or a device
// and its reference): each line sorted by its own period rule, the ratio of their rates, the
// pulse of the slower line paired with the pulse of the faster line where its partner should be,
// and the phase of channel 2 after channel 1. Pairing is by time, never by record index: one
// pulse lost on a line shifts every later record of that line. Pure functions; any thread.
namespace analysis {

// How far the ratio of the two lines' nominal intervals may lie from a whole number n (or its
// inverse 1/n) for the lines to be paired: 2 % of n, and never more than a quarter, so a ratio
// halfway between two whole numbers is never paired. The nominal is a median, so a pulse lost or
// added in a block does not move it.
inline constexpr double kRatioTolerance = 0.02;

// A pulse the line's own period rule says is missing: where it should have been.
struct MissingSlot {
  int64_t grid = 0;    // its index on the line's grid of nominal periods
  int64_t record = 0;  // the record of the first pulse after the gap: where it would have been
  double stamp = 0;    // ticks, evenly between the pulses around the gap
};

// One line sorted by its own period rule. Stamps are in ticks on the clock of both lines.
struct LinePulses {
  Nominal nominal;
  // The pulses on the grid: record index, stamp and grid index (from 0, strictly increasing).
  std::vector<int64_t> records;
  std::vector<int64_t> stamps;
  std::vector<int64_t> grid;
  // Extra pulses: record index and stamp, ascending.
  std::vector<int64_t> extra_records;
  std::vector<int64_t> extra_stamps;
  std::vector<MissingSlot> missing;  // ascending

  // The line's period in ticks around time `t`: the gridded interval that holds t (the first or
  // last one beyond the ends) over the periods it spans; the nominal with fewer than two pulses.
  double LocalPeriod(double t) const;
  // The gridded pulse nearest to time `t`, -1 when there is none.
  int64_t Nearest(double t) const;
  // The missing slot nearest to time `t`, -1 when there is none.
  int64_t NearestMissing(double t) const;
};

// Sorts stamps (ticks, in record order) by the line's period rule: the nominal interval is
// the median; a pulse closer than half the nominal to the last gridded one is extra, and of the
// two the one that sits worse on the grid (against the gridded pulse before, or the pulse after
// when there is none) is taken as the extra one; a gap of r nominal periods (within a quarter
// period) holds r - 1 missing pulses.
LinePulses SortLine(std::span<const int64_t> stamps);

enum class PairingStatus {
  kPaired,
  kTooFewPulses,   // a line has fewer than two pulses, or no time between them
  kRatioNotWhole,  // the rates are not near a whole number or its inverse
};

struct PulsePair {
  int64_t ch1_index = 0;  // into LinePulses::records / stamps of channel 1
  int64_t ch2_index = 0;  // of channel 2
  int64_t ch1_record = 0;
  int64_t ch2_record = 0;
  int64_t difference_ticks = 0;  // channel 2 stamp minus channel 1 stamp
  double time_s = 0;             // channel 2 pulse, from the earliest stamp of the two lines
  double phase_deg = 0;          // channel 2 after channel 1, degrees of channel 1's period,
                                 // in (-180, 180]
  double deviation_deg = 0;      // from the expected phase, on the circle of the faster line
  int64_t slow_grid = 0;         // grid index of the slower line's pulse
  bool judged = false;           // a pulse of the pair lies in the span both lines cover
};

inline constexpr double kNoFigure = std::numeric_limits<double>::quiet_NaN();

// Figures of the judged pairs; NaN without pairs (the drift without two pair times).
struct PhaseFigures {
  double mean_deg = kNoFigure;  // in (-180, 180]
  double pp_deg = kNoFigure;
  double rms_deg = kNoFigure;            // about the mean
  double drift_deg_per_s = kNoFigure;    // least-squares slope over the pair times
  double difference_mean_s = kNoFigure;  // channel 2 minus channel 1
};

struct ChannelPairing {
  PairingStatus status = PairingStatus::kTooFewPulses;
  double ratio = kNoFigure;  // channel 2's mean frequency over channel 1's
  // The whole number the rates keep: channel 2 runs `multiple` times as fast as channel 1 when
  // ch2_faster, else channel 1 runs `multiple` times as fast (1: the same rate).
  int64_t multiple = 0;
  bool ch2_faster = false;
  LinePulses ch1;
  LinePulses ch2;
  int64_t origin = 0;     // the earliest stamp of the two lines, ticks
  int64_t span_from = 0;  // the span both lines cover, ticks
  int64_t span_to = 0;
  double expected_phase_deg = 0;  // the circular mean of the nearest-pulse phases
  // Where partners are looked for: 0 (the nearest pulse) while the expected phase lies within
  // 3/8 of a circle of 0, so a quadrature pair is always paired with its nearest pulses; near
  // antiphase half a circle (the pulse nearest to half a period away), so jitter about +/-180
  // does not flip the pairing. The expected phase stays 45 degrees or more from the flip.
  double search_phase_deg = 0;
  std::vector<PulsePair> pairs;      // in time order; judged or not
  std::vector<int64_t> ch1_partner;  // per gridded pulse: index into pairs, or -1
  std::vector<int64_t> ch2_partner;
  int64_t paired = 0;  // judged pairs
  PhaseFigures phase;

  // The slower line (channel 2 at equal rates): each of its pulses has one partner.
  const LinePulses& Slow() const { return ch2_faster ? ch1 : ch2; }
  const LinePulses& Fast() const { return ch2_faster ? ch2 : ch1; }
  // Where the partner of a slower line's pulse at `t` (ticks) lies on the faster line if the
  // pair keeps `phase_deg` (search_phase_deg to pair, expected_phase_deg to look for a gap).
  double PartnerTime(double t, double phase_deg) const;
  // The phase circle in degrees of channel 1's period: the faster line's period, within which
  // a phase is known (360 unless channel 2 is the faster line).
  double CircleDeg() const { return ch2_faster ? 360.0 / static_cast<double>(multiple) : 360.0; }
  bool Judged(double t) const {
    return t >= static_cast<double>(span_from) && t <= static_cast<double>(span_to);
  }
  double Seconds(double t) const;
};

// An angle in degrees brought into (-circle / 2, circle / 2].
double WrapPhase(double deg, double circle);

// Pairs two lines of stamps (ticks on the one clock, each in its record order, unwrapped). Each
// pulse of the slower line (channel 2 at equal rates) is paired with the nearest gridded pulse
// of the faster line (near antiphase: the one nearest to half a period away, see
// search_phase_deg), one partner per pulse, none beyond half the faster line's nominal period.
// The phase of a pair is 360 (t2 - t1) / P1, P1 channel 1's period where the channel 2 pulse
// falls. Only pairs with a pulse inside the span both lines cover count in the figures.
ChannelPairing PairChannels(std::span<const int64_t> ch1, std::span<const int64_t> ch2);

}  // namespace analysis
