#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "analysis/phase_drift.h"

// The --drift option of the timing and spectrum commands: which slow trend of the phase is taken
// out before the time interval error, the stability table and the spectrum, and the lines that
// report the trend that was fitted.
namespace k390tool {

// "none", "linear" or "quadratic"; throws std::invalid_argument naming the option otherwise.
analysis::DriftRemoval DriftRemovalOf(const std::string& text);

// The part of the help that describes --drift.
std::string_view DriftHelp();

// How a command names its key=value lines.
enum class LineStyle {
  kCamel,  // DriftOffsetHz=, as jitter's lines
  kSnake,  // drift_offset_hz=, as the proving and spectrum lines
};

// The fitted trend, one NAME=VALUE line each, LF ended: the fitted rate at the middle of the
// record (Hz), its offset from the mean rate K / t_last (Hz), and for a quadratic trend the rate
// of change of the pulse rate (Hz/s). Nothing for DriftRemoval::kNone, which fits nothing.
std::string DriftLines(analysis::DriftRemoval removal, const analysis::DriftFit& fit,
                       LineStyle style);

}  // namespace k390tool
