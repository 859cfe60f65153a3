#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "acquisition/pulse_data.h"
#include "analysis/pass_view.h"
#include "analysis/smoothing_filter.h"

namespace analysis {

// The processing pass and the state it owns for the life of the process: the interval arrays
// and counts, the centre values for the chart, the held maxima, the smoothing filter and the
// reply log. Window thread only; not re-entrant.
class ProcessingPass {
 public:
  // One pass. `rx_copy` is a private copy of RxBuffer: an instrument reply, or the comma list of
  // a Load when `from_file`. Throws common::Error after the end steps have run.
  void Run(PassView& view, std::string_view rx_copy, bool from_file);

  // Flight-time figures from the texts of Eint1, Eprove_ms and Ejitpp_pct.
  void UpdateProveFigures(PassView& view);

  // Peak Reset: both held maxima to 0, Epqf and Ejitpp_max blanked.
  void PeakReset(PassView& view);

  acquisition::PulseData& Data() { return data_; }
  const acquisition::PulseData& Data() const { return data_; }
  SmoothingFilter& Filter() { return filter_; }
  const SmoothingFilter& Filter() const { return filter_; }
  const std::vector<std::string>& Memo() const { return memo_; }

  double CentreInterval() const { return centre_interval_; }
  double CentreFrequency() const { return centre_frequency_; }
  double PPPercentPeak() const { return pp_percent_peak_; }
  double QualityPeak() const { return quality_peak_; }
  void ResetQualityPeak() { quality_peak_ = 0; }
  void ResetPeaks() { pp_percent_peak_ = quality_peak_ = 0; }

 private:
  acquisition::PulseData data_;
  SmoothingFilter filter_;
  std::vector<std::string> memo_;
  double centre_interval_ = 0;
  double centre_frequency_ = 0;
  double pp_percent_peak_ = 0;
  double quality_peak_ = 0;
};

// Decodes a loaded list (decimal signed 32-bit values separated by commas) into Ch1Intervals
// from index 1, Ch2Intervals 0, the sum in Ch1Average; Ch1Count = n + 1, Ch2Count = 0. Takes at
// most the first 5000 values. Throws common::Error on a value that is not such an integer.
void DecodeLoadedList(std::string_view list, acquisition::PulseData& data);

}  // namespace analysis
