#include "analysis/figures.h"

#include <cmath>

#include "analysis/figure_text.h"
#include "common/convert.h"
#include "common/error.h"

namespace analysis {
namespace {

constexpr double kInt32Limit = 2147483648.0;  // 2^31, the first count past the signed range

}  // namespace

FlightFigures ComputeFlightFigures(const FlightInput& input, double held_quality) {
  FlightFigures result;
  result.held_quality = held_quality;
  if (!input.ch1_seconds) return result;
  const double t = ShownNumber(Figure::kCh1Seconds, *input.ch1_seconds);
  if (input.flight_ms.empty()) return result;
  const std::optional<int32_t> ms = common::TryStrToInt(input.flight_ms);
  if (!ms) {
    result.error = common::NotAnIntegerMessage(input.flight_ms);
    return result;
  }
  if (*ms <= 0) return result;

  // An average under half a picosecond shows as 0 seconds, and a very short pulse period can give
  // more pulses than the count holds: neither has a meaningful pulse count.
  if (!(t > 0)) return result;
  const double pulses = *ms / t / 1000;
  if (!(pulses < kInt32Limit)) return result;
  const auto n = static_cast<int32_t>(std::trunc(pulses));
  if (n <= 0) return result;
  result.pulses = n;

  // A blank percentage box (after a Load without figures) reads as an empty text.
  if (!input.peak_to_peak_percent) {
    result.error = common::NotAFloatMessage("");
    return result;
  }
  const double q = ShownNumber(Figure::kPeakToPeakPercent, *input.peak_to_peak_percent) / n;
  if (q > result.held_quality) result.held_quality = q;
  result.quality = q;
  return result;
}

}  // namespace analysis
