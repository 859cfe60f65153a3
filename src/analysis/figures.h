#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace analysis {

// The figures a pass shows, in the order the pass settles them. Those before kCh1Seconds are
// known before the chart is fed; kFlightPulses and after are the flight-time figures.
enum class Figure {
  kAverageTicks,
  kPeakPositive,
  kPeakNegative,
  kPeakToPeak,
  kPeakToPeakPercent,
  kHeldPeakToPeakPercent,
  kRms,
  kRmsPercent,
  kCh1Seconds,
  kCh1Frequency,
  kCh2Seconds,
  kCh2Frequency,
  kFlightPulses,
  kQualityFactor,
  kHeldQualityFactor,
};
inline constexpr size_t kFigureCount = static_cast<size_t>(Figure::kHeldQualityFactor) + 1;

constexpr size_t FigureIndex(Figure figure) { return static_cast<size_t>(figure); }

// The jitter figures of one pass. Where a figure is a whole number of ticks it is the rounded
// or truncated value the window shows; the others are exact and are rounded only when shown.
struct JitterFigures {
  int64_t average_ticks = 0;        // channel 1 average interval, rounded half to even
  int64_t peak_positive_ticks = 0;  // largest deviation from the average, truncated; never < 0
  int64_t peak_negative_ticks = 0;  // smallest deviation, truncated; never > 0
  int64_t peak_to_peak_ticks = 0;
  double peak_to_peak_percent = 0;       // of the average interval
  double held_peak_to_peak_percent = 0;  // the highest since the last reset, this pass included
  int64_t rms_ticks = 0;                 // twice the RMS deviation, rounded half to even
  double rms_percent = 0;
  double ch1_seconds = 0;  // average interval of channel 1
  double ch1_frequency_hz = 0;
  double ch2_seconds = 0;  // 0 without a channel 2 capture
  double ch2_frequency_hz = 0;
};

// What the flight-time figures are made of. The interval and the P-P percentage are the numbers
// the pass gave (none when their boxes are blank); the flight time is the operator's text.
struct FlightInput {
  std::optional<double> ch1_seconds;
  std::string flight_ms;
  std::optional<double> peak_to_peak_percent;
};

// The flight-time figures: none when there is no meaningful pulse count. `error` holds the
// conversion message of a flight time or P-P percentage that is not a number; `pulses` is then
// as far as it got and nothing after it counts.
struct FlightFigures {
  std::optional<int32_t> pulses;
  std::optional<double> quality;  // P-P percent per pulse
  double held_quality = 0;        // the held maximum after these figures
  std::optional<std::string> error;
};

// Pulses in the flight time and the quality factor (P-P percent over pulses) with its held
// maximum. The interval and the percentage are taken as their boxes show them (12 and 4
// decimals), so the rounding of the shown figures carries through. A blank interval, a blank or
// non-positive flight time, an interval shown as 0, or a pulse count beyond the signed 32-bit
// range gives no figures; a blank percentage is a conversion error once the count is made.
// Pure; any thread.
FlightFigures ComputeFlightFigures(const FlightInput& input, double held_quality);

}  // namespace analysis
