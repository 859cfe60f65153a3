#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "analysis/figures.h"

// The one place where figures become the texts the window and k390tool show. Any thread.
namespace analysis {

// "Esampavg", "Epkpos", ...: the name of the window's box that shows the figure, which is also
// the name k390tool prints.
std::string_view FigureName(Figure figure);

// A figure's number: a whole count (ticks, pulses) or a measure (percent, seconds, Hz).
using FigureValue = std::variant<int64_t, double>;

// The text of a figure: a count as plain decimal ("+" before a positive peak, "(N pulses)" for
// the flight time's pulses), interval seconds with 12 decimals, every other measure with 4.
std::string FigureText(Figure figure, const FigureValue& value);

// The number a measure's text stands for: `value` rounded to the figure's decimals (an exact
// tie to even), as the nearest double. A count comes back as it is.
double ShownNumber(Figure figure, double value);

// The double nearest to `value` rounded to `decimals` (0 to 15) decimal places, an exact tie to
// even: the number that common::FixedText(value, decimals) reads back as.
double RoundToDecimals(double value, int decimals);

// What the figure boxes show, as numbers; a blank box holds none.
class FigureSheet {
 public:
  // The twelve jitter figures of a pass.
  void Put(const JitterFigures& figures);
  // The pulses and the quality factor (each blanked when there is none) and, with a quality
  // factor, its held maximum.
  void Put(const FlightFigures& flight);
  void Clear(Figure figure) { values_[FigureIndex(figure)].reset(); }
  void Set(Figure figure, const std::optional<FigureValue>& value) {
    values_[FigureIndex(figure)] = value;
  }

  const std::optional<FigureValue>& Value(Figure figure) const {
    return values_[FigureIndex(figure)];
  }
  bool Has(Figure figure) const { return Value(figure).has_value(); }
  // The figure as a double; none for a blank box.
  std::optional<double> Number(Figure figure) const;
  // The text of the box: empty for a blank one.
  std::string Text(Figure figure) const;

 private:
  std::array<std::optional<FigureValue>, kFigureCount> values_;
};

}  // namespace analysis
