#pragma once

#include <cstddef>
#include <cstdint>
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
  // The values in ticks, in file order, up to the first that does not convert: interval texts
  // as decimal integers (a comma inside one starts another value), frequencies turned into
  // ticks. Empty for an unknown header.
  std::vector<int64_t> ticks;
  // The conversion message of the value where reading stopped.
  std::optional<std::string> error;
  // The processing pass takes signed 32-bit values: the first `pass_count` ticks, then, when it
  // stops before the end, the conversion message of the value it stops at, quoted as written.
  // It passes over an empty value at the very end of the file.
  size_t pass_count = 0;
  std::optional<std::string> pass_error;

  // A frequency that gives no ticks refuses the whole file at once; a bad interval text is left
  // to the pass, which meets it after the values before it.
  bool Refused() const { return form == JitForm::kFrequency && error.has_value(); }
  // The values the pass takes.
  std::vector<int32_t> PassValues() const;
};

// Reads a ".JIT" text. Lines end with CR LF, LF or a lone CR. The first line is the header and must
// match one of the two headers exactly. Of each further line the text after its first comma (the
// whole line without a comma) is the value text. Interval texts are read as signed decimal
// integers. Frequencies become ticks = (1 / f) / 2.5e-8 rounded half to even; a frequency of 0
// stops the list with kDivisionByZero, a text that is not a number with its conversion message.
JitList ParseJit(std::string_view content);

}  // namespace persistence
