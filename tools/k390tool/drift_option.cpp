#include "drift_option.h"

#include <stdexcept>

#include "number_text.h"

namespace k390tool {
namespace {

constexpr std::string_view kHelp =
    R"help(  --drift none|linear|quadratic
                  the trend taken out of the phase first: none (the line through the
                  first and last pulse), linear (the least-squares line) or quadratic
                  (the least-squares parabola: a pulse rate that ramps, as a changing
                  flow rate does). With linear or quadratic the fitted trend follows
                  the other lines: its pulse rate at the middle of the record, that
                  rate less the mean rate K / t_last (both Hz), and with quadratic the
                  rate's change in Hz/s.
)help";

std::string Line(const char* name, const char* format, double value) {
  return std::string(name) + '=' + Printed(format, value) + '\n';
}

}  // namespace

analysis::DriftRemoval DriftRemovalOf(const std::string& text) {
  if (text == "none") return analysis::DriftRemoval::kNone;
  if (text == "linear") return analysis::DriftRemoval::kLinear;
  if (text == "quadratic") return analysis::DriftRemoval::kQuadratic;
  throw std::invalid_argument("--drift " + text + ": not none, linear or quadratic");
}

std::string_view DriftHelp() { return kHelp; }

std::string DriftLines(analysis::DriftRemoval removal, const analysis::DriftFit& fit,
                       LineStyle style) {
  if (removal == analysis::DriftRemoval::kNone) return {};
  const bool camel = style == LineStyle::kCamel;
  // The offset from the mean rate f / (1 + o), formed without a difference of two near rates.
  const double offset_hz = fit.frequency_hz * fit.frequency_offset / (1 + fit.frequency_offset);
  std::string out =
      Line(camel ? "DriftFrequencyHz" : "drift_frequency_hz", "%.12g", fit.frequency_hz);
  out += Line(camel ? "DriftOffsetHz" : "drift_offset_hz", "%.6e", offset_hz);
  if (removal == analysis::DriftRemoval::kQuadratic) {
    out += Line(camel ? "DriftRateHzPerS" : "drift_rate_hz_per_s", "%.6e", fit.drift_hz_per_s);
  }
  return out;
}

}  // namespace k390tool
