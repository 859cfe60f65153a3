#pragma once

#include <vector>

#include "analysis/channel_pairing.h"

// The time difference of two paired lines as a measurement in its own right, as a time-interval
// counter takes a device against a reference: one clock stamps both lines, so its own error
// cancels and what remains is the lines' relative wander plus the stamps' 25 ns quantisation.
// Pure functions; any thread.
namespace analysis {

// The time interval error of the channel 2 minus channel 1 difference as a phase record, one
// point per pulse of the slower line from the first judged pair to the last: x = d - mean(d) in
// seconds over the judged pairs, NaN where a pulse has no judged pair. Its spacing tau0_s is
// the slower line's mean period over the record. For analysis::StabilityTable (TDEV, MTIE and
// the rest with their bounds). Empty (tau0_s 0) without two judged pairs a period apart.
struct DifferenceRecord {
  std::vector<double> phase_s;
  double tau0_s = 0;
};

DifferenceRecord DifferencePhase(const ChannelPairing& pairing);

}  // namespace analysis
