#include "persistence/jit_file.h"

#include <limits>

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

bool InPassRange(int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

// Fills a JitList value by value: the ticks until one does not convert, and the part the pass
// takes.
class ListBuilder {
 public:
  explicit ListBuilder(JitList& list) : list_(list) {}

  bool Stopped() const { return list_.error.has_value(); }

  // A value that converted; `text` names it if the pass stops at it.
  void Add(int64_t ticks, std::string_view text) {
    list_.ticks.push_back(ticks);
    if (list_.pass_error) return;
    if (InPassRange(ticks)) {
      ++list_.pass_count;
    } else {
      list_.pass_error = common::NotAnIntegerMessage(text);
    }
  }

  // A value that does not convert: reading stops here, and the pass too unless `past_pass`.
  void Stop(const std::string& message, bool past_pass) {
    list_.error = message;
    if (!past_pass && !list_.pass_error) list_.pass_error = message;
  }

  // One interval text; `last` for the file's last. An empty last value is passed over by the
  // pass, and by the reading too when it is the file's only value.
  void Interval(std::string_view text, bool last, bool only) {
    if (Stopped()) return;
    if (last && text.empty()) {
      if (!only) Stop(common::NotAnIntegerMessage(text), true);
      return;
    }
    try {
      Add(common::StrToInt64(text), text);
    } catch (const common::Error& e) {
      Stop(e.Message(), false);
    }
  }

  void Frequency(std::string_view text) {
    if (Stopped()) return;
    try {
      const int64_t ticks = FrequencyTicks(text);
      Add(ticks, common::IntText(ticks));
    } catch (const common::Error& e) {
      // The file is refused at once; the pass keeps what came before.
      Stop(e.Message(), true);
    }
  }

 private:
  JitList& list_;
};

// The interval values of the lines after the header, each value text split at its commas. A
// value is handled one step late, so that the last one is known as such.
void ReadIntervals(std::string_view rest, ListBuilder& builder) {
  std::optional<std::string_view> pending;
  size_t count = 0;
  while (!rest.empty() && !builder.Stopped()) {
    std::string_view text = ValueText(NextLine(rest));
    size_t comma = 0;
    do {
      comma = text.find(',');
      if (pending) builder.Interval(*pending, false, false);
      pending = text.substr(0, comma);
      ++count;
      if (comma != std::string_view::npos) text.remove_prefix(comma + 1);
    } while (comma != std::string_view::npos);
  }
  if (pending) builder.Interval(*pending, true, count == 1);
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
  ListBuilder builder(result);
  if (result.form == JitForm::kInterval) {
    ReadIntervals(rest, builder);
  } else {
    while (!rest.empty() && !builder.Stopped()) builder.Frequency(ValueText(NextLine(rest)));
  }
  return result;
}

std::vector<int32_t> JitList::PassValues() const {
  return std::vector<int32_t>(ticks.begin(), ticks.begin() + static_cast<ptrdiff_t>(pass_count));
}

}  // namespace persistence
