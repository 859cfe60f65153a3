#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "analysis/stability.h"

// The stability table as comma-separated text, in the columns `k390tool stability` prints, so
// that a table saved from the window and one printed by the tool read the same. Any thread.
namespace persistence {

inline constexpr std::string_view kStabilityCsvHeader = "deviation,af,tau_s,n,alpha,value,min,max";

// The header line, then one line per row, each ended by LF: the deviation's short name
// ("oadev"), the averaging factor, tau in seconds, the terms used, the noise exponent and the
// value with its bounds; numbers in "%.10g" (10 significant digits), an unknown alpha or bound
// as an empty column.
std::string FormatStabilityCsv(std::span<const analysis::StabilityRow> rows);

// Writes the table through "<path>.tmp" and a rename, so that a failure leaves an older file
// whole. Throws common::Error naming `path` (persistence::ReplaceTextFile).
void WriteStabilityCsv(const std::string& path, std::span<const analysis::StabilityRow> rows);

}  // namespace persistence
