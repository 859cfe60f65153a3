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

  // The steps after decoding, on Data() as it stands: filter, statistics, figures, chart feed,
  // histogram. Run calls it inside its end-step guard; a caller that fills Data() itself (the
  // benchmark) runs no end steps. Counts above 5001 are clamped to 5001 first.
  void ProcessDecoded(PassView& view, int graph_index);

  // Flight-time figures from the texts of Eint1, Eprove_ms and Ejitpp_pct. An Eint1 that reads
  // as 0 or less, or a pulse count beyond the signed 32-bit range, gives no figures. Throws
  // common::Error when Eint1, Eprove_ms or Ejitpp_pct is not a number (after Lpcycles is set).
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
// from index 1 and 0 into Ch2Intervals, adding each value to Ch1Average (the pass has zeroed it);
// then Ch1Count = n + 1 and Ch2Count = 0. Only the first 5000 values are stored, so Ch1Count is
// at most 5001, but every later value is still checked. Throws common::Error on a value that is
// not such an integer; the counts are then left as they were.
void DecodeLoadedList(std::string_view list, acquisition::PulseData& data);

}  // namespace analysis
