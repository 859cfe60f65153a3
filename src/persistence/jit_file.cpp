#include "persistence/jit_file.h"

#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"
#include "common/ticks.h"

namespace persistence {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// Takes the next line off the front of `rest`, without its ending. CR LF, LF and a lone CR each
// end a line: files saved by other tools with classic Mac line ends read as they look.
std::string_view NextLine(std::string_view& rest) {
  const size_t end = rest.find_first_of("\r\n");
  if (end == std::string_view::npos) {
    const std::string_view line = rest;
    rest = {};
    return line;
  }
  const std::string_view line = rest.substr(0, end);
  const bool crlf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
  rest.remove_prefix(end + (crlf ? 2 : 1));
  return line;
}

std::string_view ValueText(std::string_view line) {
  const size_t comma = line.find(',');
  return comma == std::string_view::npos ? line : line.substr(comma + 1);
}

// Ticks of one period of a frequency in Hz.
int64_t FrequencyTicks(std::string_view text) {
  const double f = common::StrToFloat(text);
  if (f == 0) throw common::Error(std::string(common::kDivisionByZero));
  return common::RoundHalfEven((1 / f) / common::kTickSeconds);
}

}  // namespace

std::string FormatJit(const std::vector<double>& values, bool interval_form) {
  std::string text(interval_form ? kIntervalHeader : kFrequencyHeader);
  text.append(kLineEnd);
  for (size_t i = 0; i < values.size(); ++i) {
    text.append(common::IntText(static_cast<int64_t>(i)));
    text.push_back(',');
    text.append(interval_form ? common::IntText(common::TruncToInt64(values[i]))
                              : common::GeneralText(values[i]));
    text.append(kLineEnd);
  }
  return text;
}

JitList ParseJit(std::string_view content) {
  JitList result;
  std::string_view rest = content;
  const std::string_view header = NextLine(rest);
  if (header == kIntervalHeader) {
    result.form = JitForm::kInterval;
  } else if (header == kFrequencyHeader) {
    result.form = JitForm::kFrequency;
  } else {
    return result;
  }
  bool first = true;
  while (!rest.empty()) {
    const std::string_view value = ValueText(NextLine(rest));
    std::string ticks;
    if (result.form == JitForm::kFrequency) {
      try {
        ticks = common::IntText(FrequencyTicks(value));
      } catch (const common::Error& e) {
        result.error = e.Message();
        return result;
      }
    }
    if (!first) result.list.push_back(',');
    first = false;
    if (result.form == JitForm::kFrequency) {
      result.list.append(ticks);
    } else {
      result.list.append(value);
    }
  }
  return result;
}

}  // namespace persistence
