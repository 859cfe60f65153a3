#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/jitter_spectrum.h"
#include "analysis/proving.h"
#include "analysis/pulse_train.h"

// What a whole run's pulses say about proving the meter, for the run's summary file: the
// default proving scan and the periodic lines of the jitter spectrum, with the figures and the
// defaults of `k390tool prove` and `k390tool spectrum` (N = 5 runs of 1 pass, no pause, the
// published limit, the default flight times; Welch segments of 65,536 pulses, the linear trend
// of the phase taken out), so the summary and the two commands agree on the same log.
namespace analysis {

struct RunRecordAnalysis {
  // The options the scan ran with: runs, passes and pause (s); no limit typed, so each row's
  // limit_pct is the published one for these runs.
  ProvingOptions proving_options;
  // The scan at DefaultFlightTimes; none when the record is too short for it.
  std::optional<ProvingScan> proving;
  // The periodic lines, strongest first (empty: no line above the noise floor), and the rms of
  // the time interval error with them taken out (s); none when the record is too short for a
  // spectrum.
  std::optional<std::vector<SpectrumLine>> lines;
  std::optional<double> random_rms_s;
  // Why a part is none, "; " between two reasons; empty when both are there.
  std::string missing;
};

// The most intervals a run's record is analysed over at its stop: 8,388,608, 2 h 20 min at
// 1 kHz, 84 s at 100 kHz. Reading them back and analysing them holds some 300 MB for a moment
// and takes about 2 s; a longer run's record is left out rather than taken from part of it.
inline constexpr int64_t kMostRecordIntervals = int64_t{1} << 23;

// The record of a run of more than kMostRecordIntervals intervals: no part, and why.
RunRecordAnalysis RecordOfTooLongRun(int64_t intervals);

// The scan and the lines of a run's train. Pure; any thread. Some 1 s for the scan and 2 s for
// the spectrum over 10^7 pulses, with some 30 bytes a pulse held while it runs: a window must
// call it off its own thread.
RunRecordAnalysis AnalyseRunRecord(const PulseTrain& train);

}  // namespace analysis
