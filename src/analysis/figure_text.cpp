#include "analysis/figure_text.h"

#include <cmath>

#include "common/text_forms.h"

namespace analysis {
namespace {

enum class Form { kCount, kPeak, kPulses, kDecimals };

struct FigureForm {
  std::string_view name;
  Form form;
  int decimals = 0;
};

// By Figure: the box's name and how its number is written.
constexpr std::array<FigureForm, kFigureCount> kForms = {{
    {"Esampavg", Form::kCount},
    {"Epkpos", Form::kPeak},
    {"Epkneg", Form::kCount},
    {"Ejitpp", Form::kCount},
    {"Ejitpp_pct", Form::kDecimals, 4},
    {"Ejitpp_max", Form::kDecimals, 4},
    {"Ejitrms", Form::kCount},
    {"Ejitrms_pct", Form::kDecimals, 4},
    {"Eint1", Form::kDecimals, 12},
    {"Efreq1", Form::kDecimals, 4},
    {"Eint2", Form::kDecimals, 12},
    {"Efreq2", Form::kDecimals, 4},
    {"Lpcycles", Form::kPulses},
    {"Eprove_err", Form::kDecimals, 4},
    {"Epqf", Form::kDecimals, 4},
}};

const FigureForm& FormOf(Figure figure) { return kForms[FigureIndex(figure)]; }

constexpr int kMantissaBits = 53;

// 10^decimals, exact for 0 to 15.
uint64_t PowerOfTen(int decimals) {
  uint64_t power = 1;
  for (int i = 0; i < decimals; ++i) power *= 10;
  return power;
}

}  // namespace

std::string_view FigureName(Figure figure) { return FormOf(figure).name; }

std::string FigureText(Figure figure, const FigureValue& value) {
  const FigureForm& form = FormOf(figure);
  if (form.form == Form::kDecimals) {
    const auto* count = std::get_if<int64_t>(&value);
    return common::FixedText(count ? static_cast<double>(*count) : std::get<double>(value),
                             form.decimals);
  }
  const int64_t count = std::get<int64_t>(value);
  if (form.form == Form::kPeak) return (count > 0 ? "+" : "") + common::IntText(count);
  if (form.form == Form::kPulses) return "(" + common::IntText(count) + " pulses)";
  return common::IntText(count);
}

double ShownNumber(Figure figure, double value) {
  const FigureForm& form = FormOf(figure);
  return form.form == Form::kDecimals ? RoundToDecimals(value, form.decimals) : value;
}

// |value| = mantissa / 2^shift exactly, so |value| x 10^decimals rounds exactly in 128 bits.
// When that rounded count reaches 2^53 the value's own spacing is wider than 10^-decimals, and
// the nearest double to the rounded decimal is the value itself.
double RoundToDecimals(double value, int decimals) {
  if (value == 0) return 0;
  if (!std::isfinite(value)) return value;
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value), &exponent);
  const auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, kMantissaBits));
  const int shift = kMantissaBits - exponent;
  if (shift <= 0) return value;  // a whole number: its text is exact
  const uint64_t scale = PowerOfTen(decimals);
  const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * scale;
  if (shift >= 127) return 0;  // far below half a unit of the last decimal
  unsigned __int128 rounded = scaled >> shift;
  const unsigned __int128 rest = scaled - (rounded << shift);
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  if (rest > half || (rest == half && (rounded & 1) != 0)) ++rounded;
  if (rounded == 0) return 0;  // the text has no sign then
  if (rounded >= (static_cast<unsigned __int128>(1) << kMantissaBits)) return value;
  return std::copysign(static_cast<double>(rounded) / static_cast<double>(scale), value);
}

void FigureSheet::Put(const JitterFigures& f) {
  Set(Figure::kAverageTicks, f.average_ticks);
  Set(Figure::kPeakPositive, f.peak_positive_ticks);
  Set(Figure::kPeakNegative, f.peak_negative_ticks);
  Set(Figure::kPeakToPeak, f.peak_to_peak_ticks);
  Set(Figure::kPeakToPeakPercent, f.peak_to_peak_percent);
  Set(Figure::kHeldPeakToPeakPercent, f.held_peak_to_peak_percent);
  Set(Figure::kRms, f.rms_ticks);
  Set(Figure::kRmsPercent, f.rms_percent);
  Set(Figure::kCh1Seconds, f.ch1_seconds);
  Set(Figure::kCh1Frequency, f.ch1_frequency_hz);
  Set(Figure::kCh2Seconds, f.ch2_seconds);
  Set(Figure::kCh2Frequency, f.ch2_frequency_hz);
}

void FigureSheet::Put(const FlightFigures& flight) {
  Clear(Figure::kFlightPulses);
  Clear(Figure::kQualityFactor);
  if (flight.pulses) Set(Figure::kFlightPulses, int64_t{*flight.pulses});
  if (!flight.quality) return;
  Set(Figure::kQualityFactor, *flight.quality);
  Set(Figure::kHeldQualityFactor, flight.held_quality);
}

std::optional<double> FigureSheet::Number(Figure figure) const {
  const std::optional<FigureValue>& value = values_[FigureIndex(figure)];
  if (!value) return std::nullopt;
  if (const auto* count = std::get_if<int64_t>(&*value)) return static_cast<double>(*count);
  return std::get<double>(*value);
}

std::string FigureSheet::Text(Figure figure) const {
  const std::optional<FigureValue>& value = values_[FigureIndex(figure)];
  return value ? FigureText(figure, *value) : std::string();
}

}  // namespace analysis
