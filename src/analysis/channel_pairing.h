#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/no_figure.h"
#include "analysis/pulse_train.h"

// The pairing of two pulse lines stamped on one 40 MHz clock (a meter's two outputs, or a device
// and its reference): each line sorted by its own period rule, the ratio of their rates, the
// pulse of the slower line paired with the pulse of the faster line where its partner should be,
// and the phase of channel 2 after channel 1. Pairing is by time, never by record index: one
// pulse lost on a line shifts every later record of that line. Each line is indexed by the rule
// of analysis::BuildPulseTrain (pulse_train.h), the one every other analysis of a line uses.
// Pure functions; any thread.
namespace analysis {

// How far the ratio of the two lines' periods may lie from a whole number n (or its inverse 1/n)
// for the lines to be paired: 2 % of n, and never more than a quarter, so a ratio halfway between
// two whole numbers is never paired. Each period is the line's span over the periods of its grid,
// so a pulse lost or added in a block does not move it.
inline constexpr double kRatioTolerance = 0.02;

// A pulse the line's own period rule says is missing: where it should have been.
struct MissingSlot {
  int64_t grid = 0;    // its index on the line's grid of periods
  int64_t record = 0;  // the record of the first pulse after the gap: where it would have been
  double stamp = 0;    // ticks, evenly between the pulses around the gap
};

// Neighbouring gridded pulses more than one period apart: `periods` - 1 pulses are missing
// between them. Kept as one entry however long, so a damaged stamp costs no memory.
struct LineGap {
  int64_t first_grid = 0;  // grid index of the pulse before the gap
  int64_t periods = 0;     // 2 or more
  int64_t record = 0;      // record of the pulse after the gap
  int64_t from = 0;        // stamps of the pulses around it, ticks
  int64_t to = 0;

  // The m-th missing pulse of the gap, 1 <= m < periods.
  MissingSlot Slot(int64_t m) const;
};

// One line sorted by its own period rule. Stamps are in ticks on the clock of both lines.
struct LinePulses {
  Period period;          // last minus first gridded stamp over their grid steps, ticks, exact
  std::string ambiguous;  // why the line's indexing is not sound; empty when it is
  // The pulses on the grid: record index, stamp and grid index (from 0, strictly increasing).
  std::vector<int64_t> records;
  std::vector<int64_t> stamps;
  std::vector<int64_t> grid;
  // Extra pulses: record index and stamp, ascending.
  std::vector<int64_t> extra_records;
  std::vector<int64_t> extra_stamps;
  std::vector<LineGap> gaps;  // ascending

  // The line's period in ticks around time `t`: the gridded interval that holds t (the first or
  // last one beyond the ends) over the periods it spans; the period with fewer than two pulses.
  double LocalPeriod(double t) const;
  // The gridded pulse nearest to time `t`, -1 when there is none.
  int64_t Nearest(double t) const;
  // The missing slot nearest to time `t`; nullopt when the line has no gap.
  std::optional<MissingSlot> NearestMissing(double t) const;
  int64_t MissingPulses() const;
};

// Sorts stamps (ticks, in record order) by the rule of BuildPulseTrain over their intervals:
// the jittered pulses, the gaps and the extra pulses are that rule's. Where the rule
// merged an extra pulse beside a gridded one, the one of the two nearer to where the gridded
// pulses around them put the slot is kept on the grid, so an extra pulse just ahead of a true one
// is the one left out. A pulse the rule kept on the grid halfway between two others (each half
// a period rounds up to one) is taken off it as extra when its neighbours lie a period apart by
// the median gridded interval: otherwise it would be as near a quadrature partner as the true
// pulse is.
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
// search_phase_deg), one partner per pulse, none beyond half the faster line's period.
// The phase of a pair is 360 (t2 - t1) / P1, P1 channel 1's period where the channel 2 pulse
// falls. Only pairs with a pulse inside the span both lines cover count in the figures.
ChannelPairing PairChannels(std::span<const int64_t> ch1, std::span<const int64_t> ch2);

}  // namespace analysis
