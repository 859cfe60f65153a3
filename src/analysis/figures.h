#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace analysis {

// The figures a pass shows, in the order the pass settles them. Those before kEint1 are known
// before the chart is fed; kLpcycles and after are the flight-time figures.
enum class Figure {
  kEsampavg,
  kEpkpos,
  kEpkneg,
  kEjitpp,
  kEjitpp_pct,
  kEjitpp_max,
  kEjitrms,
  kEjitrms_pct,
  kEint1,
  kEfreq1,
  kEint2,
  kEfreq2,
  kLpcycles,
  kEprove_err,
  kEpqf,
};
inline constexpr size_t kFigureCount = static_cast<size_t>(Figure::kEpqf) + 1;

constexpr size_t FigureIndex(Figure figure) { return static_cast<size_t>(figure); }

// "Esampavg", "Epkpos", ...: the name of the window's box that shows the figure, which is also
// the name k390tool prints.
std::string_view FigureName(Figure figure);

// The texts the flight-time figures are made of, as the boxes show them: the average interval
// in seconds (Eint1), the flight time in milliseconds as typed, the P-P percentage.
struct FlightTexts {
  std::string interval_seconds;
  std::string flight_ms;
  std::string pp_percent;
};

// The flight-time figures. `pulses` ("(3 pulses)") and `quality` are empty when there is no
// meaningful pulse count; `quality_peak` is set only when a quality factor was formed. `error`
// holds the conversion message of a text that is not a number: `pulses` is then as far as it
// got and nothing after it counts.
struct FlightFigures {
  std::string pulses;
  std::string quality;
  std::optional<std::string> quality_peak;
  double held_quality = 0;  // the held maximum after these figures
  std::optional<std::string> error;
};

// Pulses in the flight time and the quality factor (P-P percent over pulses) with its held
// maximum, from the texts alone so that the rounding of the shown texts carries through. An
// interval that reads as 0 or less, a flight time of 0 or less, or a pulse count beyond the
// signed 32-bit range gives no figures. Pure; any thread.
FlightFigures ComputeFlightFigures(const FlightTexts& texts, double held_quality);

}  // namespace analysis
