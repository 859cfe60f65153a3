#include "analysis/figures.h"

#include <cmath>
#include <cstdint>

#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

constexpr double kInt32Limit = 2147483648.0;  // 2^31, the first count past the signed range

constexpr std::array<std::string_view, kFigureCount> kNames = {
    "Esampavg", "Epkpos", "Epkneg", "Ejitpp", "Ejitpp_pct", "Ejitpp_max", "Ejitrms", "Ejitrms_pct",
    "Eint1",    "Efreq1", "Eint2",  "Efreq2", "Lpcycles",   "Eprove_err", "Epqf",
};

// "(3 pulses)"
std::string PulsesText(int32_t pulses) { return "(" + common::IntText(pulses) + " pulses)"; }

}  // namespace

std::string_view FigureName(Figure figure) { return kNames[FigureIndex(figure)]; }

FlightFigures ComputeFlightFigures(const FlightTexts& texts, double held_quality) {
  FlightFigures result;
  result.held_quality = held_quality;
  try {
    if (texts.interval_seconds.empty()) return result;
    const double t = common::StrToFloat(texts.interval_seconds);
    if (texts.flight_ms.empty()) return result;
    const int32_t ms = common::StrToInt(texts.flight_ms);
    if (ms <= 0) return result;

    // An average below 0.02 ticks shows as 0 seconds, and a very short pulse period can give
    // more pulses than the count holds: neither has a meaningful pulse count.
    if (!(t > 0)) return result;
    const double pulses = ms / t / 1000;
    if (!(pulses < kInt32Limit)) return result;
    const auto n = static_cast<int32_t>(std::trunc(pulses));
    if (n <= 0) return result;
    result.pulses = PulsesText(n);

    const double q = common::StrToFloat(texts.pp_percent) / n;
    if (q > result.held_quality) result.held_quality = q;
    result.quality = common::FixedText(q, 4);
    result.quality_peak = common::FixedText(result.held_quality, 4);
  } catch (const common::Error& e) {
    result.error = e.Message();
  }
  return result;
}

}  // namespace analysis
