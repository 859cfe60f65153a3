#pragma once

#include <span>
#include <string>
#include <vector>

#include "analysis/limit_check.h"
#include "analysis/stability.h"

// What the Stability view shows of limit lines (a TDEV or MTIE mask): the lines of the
// deviations it draws, and the verdict of the curve drawn against them. Any thread.
namespace presentation {

// The lines whose deviation is one of `drawn`, in their order; a line of a deviation the view
// does not draw is neither drawn nor judged there.
std::vector<analysis::LimitLine> LinesFor(std::span<const analysis::LimitLine> lines,
                                             std::span<const analysis::Deviation> drawn);

// The verdict line: "Limits PASS  worst margin 23.5 % (TDEV at tau 0.016 s)", "Limits FAIL
// first failing tau 0.008 s (MTIE)  worst margin -40.0 % (MTIE at tau 0.1 s)", "Limits NOT
// MET  no rows within the taus of TDEV" when a line had no row to judge and none failed, or
// "Limits: none for the curves shown" without lines. The first failing tau is the smallest of
// every line's; the worst margin the least of every line's.
std::string LimitVerdictText(const analysis::LimitsVerdict& verdict);

}  // namespace presentation
