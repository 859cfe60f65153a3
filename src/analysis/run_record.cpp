#include "analysis/run_record.h"

#include <string>

#include "analysis/phase_drift.h"

namespace analysis {
namespace {

void AddReason(std::string& missing, const std::string& why) {
  if (!missing.empty()) missing += "; ";
  missing += why;
}

// The scan `k390tool prove` prints of the record when no flight time is typed, or why none.
std::optional<ProvingScan> DefaultScan(const TrainView& train, const ProvingOptions& options,
                                       std::string& missing) {
  const std::vector<double> flights = DefaultFlightTimes(train, options);
  if (flights.empty()) {
    AddReason(missing, "too short for the default proving scan (20 provings of " +
                           std::to_string(options.runs * options.passes) +
                           " passes of 10 ms or more)");
    return std::nullopt;
  }
  ProvingScan scan = ScanProving(train, flights, options);
  for (const ProvingFigures& row : scan.rows) {
    if (row.provings + row.provings_with_gaps > 0) return scan;
  }
  AddReason(missing, "too short for one proving at the default flight times");
  return std::nullopt;
}

}  // namespace

RunRecordAnalysis RecordOfTooLongRun(int64_t intervals) {
  RunRecordAnalysis out;
  out.missing = std::to_string(intervals) + " intervals, more than the " +
                std::to_string(kMostRecordIntervals) +
                " analysed at a stop: k390tool prove and spectrum --stream take the whole log";
  return out;
}

RunRecordAnalysis AnalyseRunRecord(const PulseTrain& train) {
  RunRecordAnalysis out;
  const TrainView view = train.View();
  out.proving = DefaultScan(view, out.proving_options, out.missing);
  const JitterSpectrum spectrum =
      ComputeJitterSpectrum(view, DriftRemoval::kLinear, SpectrumOptions{});
  if (spectrum.amplitude_s.empty()) {
    const int64_t points =
        view.Empty() ? static_cast<int64_t>(view.Pulses()) : view.LastIndex() + 1;
    AddReason(out.missing, std::to_string(points) + " grid points; the spectrum needs at least 16");
  } else {
    out.lines = spectrum.lines;
    out.random_rms_s = spectrum.random_rms_s;
  }
  return out;
}

}  // namespace analysis
