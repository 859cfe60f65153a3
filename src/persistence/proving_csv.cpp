#include "persistence/proving_csv.h"

#include <cmath>
#include <cstdio>

namespace persistence {
namespace {

// One number through a printf format; an empty column for NaN.
std::string Number(const char* format, double value) {
  if (std::isnan(value)) return {};
  char text[96];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string FlightMs(double flight_s) { return Number("%.6g", flight_s * 1000); }

std::string FlightMsOrNone(const std::optional<double>& flight_s) {
  return flight_s ? FlightMs(*flight_s) : std::string("none");
}

}  // namespace

std::string FormatProvingCsv(const analysis::ProvingScan& scan) {
  std::string out(kProvingCsvHeader);
  out += '\n';
  for (const analysis::ProvingFigures& f : scan.rows) {
    out += FlightMs(f.flight_s) + ',' + std::to_string(f.provings) + ',' +
           std::to_string(f.provings_with_gaps) + ',' + Number("%.10g", f.mean_pulses) + ',' +
           Number("%.6g", f.sd_pct) + ',' + Number("%.6g", f.repeat_median_pct) + ',' +
           Number("%.6g", f.repeat_p95_pct) + ',' + Number("%.6g", f.pass_share) + ',' +
           Number("%.6g", f.limit_pct) + '\n';
  }
  out += "shortest_flight_ms_95=" + FlightMsOrNone(scan.shortest_flight_s) + '\n';
  out += "passing_from_ms_95=" + FlightMsOrNone(scan.passing_from_s) + '\n';
  return out;
}

std::string FormatSpectrumCsv(const analysis::JitterSpectrum& spectrum) {
  if (spectrum.amplitude_s.empty()) return {};
  std::string out = "freq_hz,amplitude_s\n";
  for (size_t k = 0; k < spectrum.amplitude_s.size(); ++k) {
    out += Number("%.10g", spectrum.FrequencyHz(k)) + ',' +
           Number("%.6e", spectrum.amplitude_s[k]) + '\n';
  }
  for (const analysis::SpectrumLine& line : spectrum.lines) {
    out += "line=" + Number("%.10g", line.freq_hz) + ',' + Number("%.6e", line.amplitude_s) + ',' +
           Number("%.6g", line.amplitude_pct) + ',' +
           (line.divisor ? std::to_string(*line.divisor) : std::string()) + '\n';
  }
  out += "random_rms_s=" + Number("%.6e", spectrum.random_rms_s) + '\n';
  out += "filled_points=" + std::to_string(spectrum.filled_points) + '\n';
  return out;
}

}  // namespace persistence
