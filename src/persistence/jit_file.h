#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ".JIT" jitter data files: a header line, then one "sample,value" line per point, CR LF line
// ends. Any thread.
namespace persistence {

inline constexpr std::string_view kIntervalHeader = ";Sample,TDelta(x25ns)";
inline constexpr std::string_view kFrequencyHeader = ";Sample,Frequency(Hz)";

// The whole text of a ".JIT" file for the points of a trace: the interval header and each value
// in ticks truncated toward zero, or the frequency header and each value in Hz in the general
// form (15 significant digits). Throws common::Error(kInvalidFloatOperation) for an interval
// value that is not finite or beyond the signed 64-bit range.
std::string FormatJit(const std::vector<double>& values, bool interval_form);

enum class JitForm { kInterval, kFrequency, kUnknown };

// What a Load makes of a file.
struct JitList {
  JitForm form = JitForm::kUnknown;
  // The comma list for the processing pass: value texts in file order (frequencies turned into
  // ticks) joined by single commas. Empty for an unknown header.
  std::string list;
  // Set when a frequency cannot be turned into ticks; `list` then holds the values before it.
  std::optional<std::string> error;
};

// Reads a ".JIT" text. Lines end with CR LF, LF or a lone CR. The first line is the header and must
// match one of the two headers exactly. Of each further line the text after its first comma (the
// whole line without a comma) is the value text. Interval texts are passed on unchanged for the
// pass to check. Frequencies become ticks = (1 / f) / 2.5e-8 rounded half to even; a frequency of 0
// ends the list with kDivisionByZero, a text that is not a number with its conversion message.
JitList ParseJit(std::string_view content);

}  // namespace persistence
