#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The stability table as comma-separated text, in the columns `k390tool stability` prints, so
// that a table saved from the window and one printed by the tool read the same. Any thread.
namespace persistence {

inline constexpr std::string_view kStabilityCsvHeader = "deviation,af,tau_s,n,alpha,value,min,max";

// One row as it is written: the deviation's short name ("oadev"), the averaging factor, tau in
// seconds, the terms used, the noise exponent and the value with its bounds where known.
struct StabilityCsvRow {
  std::string deviation;
  int64_t af = 1;
  double tau_s = 0;
  int64_t n = 0;
  std::optional<int> alpha;
  double value = 0;
  std::optional<double> min, max;
};

// The header line, then one line per row, each ended by LF; numbers in "%.10g" (10 significant
// digits), an unknown alpha or bound as an empty column.
std::string FormatStabilityCsv(std::span<const StabilityCsvRow> rows);

// Writes the table through "<path>.tmp" and a rename, so that a failure leaves an older file
// whole. Throws common::Error naming `path` (persistence::ReplaceTextFile).
void WriteStabilityCsv(const std::string& path, std::span<const StabilityCsvRow> rows);

}  // namespace persistence
