#pragma once

#include <limits>

namespace analysis {

// A figure that has no value (no proving counted, no pair judged): NaN, which the commands print
// as an empty field and the summary file writes as null. One definition for every analysis, so
// that their headers can be included together.
inline constexpr double kNoFigure = std::numeric_limits<double>::quiet_NaN();

}  // namespace analysis
