#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/protocol.h"
#include "analysis/pulse_security.h"
#include "analysis/stability.h"
#include "presentation/timing_view.h"

// What the readout and the TIE and Stability views show of a dual block: channel 2 analysed as
// channel 1 is, the pairing and pulse security of the two lines, and the channel 2 minus
// channel 1 time difference as a measurement. Kept free of the chart engine. Any thread.
namespace presentation {

// Which curves the TIE and Stability views draw of a dual block.
enum class ChannelChoice { kCh1, kCh2, kBoth, kDifference };

// The caption of each choice, in the order of the enum.
inline constexpr std::string_view kChannelChoiceCaptions[] = {"Ch1", "Ch2", "Ch1 and Ch2",
                                                              "Ch2 - Ch1"};

// The deviations the Stability view draws of the time difference, as a time-interval counter
// judges a device against its reference.
inline constexpr analysis::Deviation kDifferenceDeviations[] = {analysis::Deviation::kTdev,
                                                                analysis::Deviation::kMtie};

struct ChannelsView {
  bool dual = false;  // both lines hold stamps; nothing else is set otherwise
  TimingView ch2;     // channel 2's own train, with the parts asked for
  analysis::ChannelsReport report;
  // The TIE of the time difference, in the form of a TimingView's trace: index of the slower
  // line's pulse from the first judged pair, the difference less its mean in ns, NaN where a
  // pulse has no judged pair. Set with the TIE part only.
  TimingView difference_tie;
  // Every deviation of the difference record at octave factors, with bounds. Set with the
  // stability part only.
  std::vector<analysis::StabilityRow> difference_table;
};

// The analysis of a block's stamps (ticks, on one clock; acquisition::DecodeDualStamps): not
// dual unless each line holds at least two stamps. `window_deg` is the phase window of the
// sequence check.
ChannelsView ComputeChannelsView(const acquisition::DualStamps& stamps, TimingParts parts,
                                 double window_deg = analysis::kDefaultPhaseWindowDeg);

// The rows of `table` whose deviation is one of `deviations`, in the table's order.
std::vector<analysis::StabilityRow> RowsOf(std::span<const analysis::StabilityRow> table,
                                           std::span<const analysis::Deviation> deviations);

// The pairing line, short enough for the chart's width: "Ch2/Ch1 ratio 1.0000  paired 998
// phase 90.0 deg (P-P 4.5  RMS 1.1  drift 0.010/s)  diff 6.250 us  |  Unpaired Ch1 1  Ch2 1
// Sequence 0  forward" (degrees of channel 1's period); when the lines are not paired, why
// ("... not near a whole number or its inverse, not paired", "Ch1/Ch2: too few pulses to pair").
std::string PairingText(const analysis::ChannelsReport& report);

// Channel 2's readout: "Ch2  " and the readout line channel 1 has, then "   |   Missing N /
// Extra N" when the block has either (the block's own count) and "  Ambiguous: <why>" when
// its decisions are not sound; "Ch2: no pulse train" without one.
std::string Ch2LineText(const TimingView& ch2);

// Whether the block's security found anything to alarm on (an unpaired pulse or a sequence error).
bool SecurityAlarm(const analysis::SecurityCounts& counts);

// One line per error, "missing_ch2  record 500  t 0.500000 s", at most `max_lines` of them and
// then "... N more (chart menu: Save channel errors...)"; "No pulse security errors" without
// any. For the pairing line's tooltip.
std::string ErrorListText(std::span<const analysis::ChannelErrorEntry> errors, int max_lines = 30);

// The errors as comma-separated text: "error,record,time_s" and one row per error, the names
// and decimal record indexes k390tool prints, time in seconds with 9 decimals.
std::string ErrorListCsv(std::span<const analysis::ChannelErrorEntry> errors);

// The run totals of an AutoSample run: "Run 12 blocks  paired 11,988  Missing Ch1 0  Ch2 1
// Extra Ch1 1  Ch2 0  |  Unpaired Ch1 1  Ch2 1  Sequence 0  forward".
std::string RunTotalsText(const analysis::SecurityCounts& totals);

}  // namespace presentation
