#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/limit_check.h"

// Limit lines for the stability table (an MTIE or TDEV mask, say) as comma-separated text:
//
//   deviation,tau_s,limit
//   tdev,0.001,2e-8
//   tdev,1,1e-7
//   mtie,0.001,1e-7
//
// one row per point, the deviation by its short name, tau in seconds, the limit in the
// deviation's unit (seconds for TDEV, TIE rms and MTIE, dimensionless otherwise). Rows of one
// deviation may be spread over the file; their taus must increase. Blank lines and lines
// starting with "#" are skipped; LF, CR LF and CR end a line; blanks around a field are ignored.
// Any thread.
namespace persistence {

inline constexpr std::string_view kLimitLinesHeader = "deviation,tau_s,limit";

using analysis::LimitLine;
using analysis::LimitPoint;

// The lines in the order their deviations first appear. `deviations` names the deviations a
// row may give. Throws common::Error naming the 1-based line ("line 4: tau_s must be above 0")
// when the header is not the first line read, a row has other than three fields, names another
// deviation, holds a number that does not convert, a tau or limit that is not finite and above
// 0, or a tau not above the deviation's previous one; and ("no limit points") when no row
// follows the header.
std::vector<LimitLine> ParseLimitLines(std::string_view text,
                                       std::span<const std::string_view> deviations);

// The same of a file's content; read errors as persistence::ReadTextFile throws them.
std::vector<LimitLine> ReadLimitLines(const std::string& path,
                                      std::span<const std::string_view> deviations);

}  // namespace persistence
