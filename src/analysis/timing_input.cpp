#include "analysis/timing_input.h"

#include <charconv>
#include <limits>

#include "common/convert.h"
#include "common/error.h"
#include "common/ticks.h"

namespace analysis {
namespace {

constexpr std::string_view kSamplesTag = "<SAMPLES>";
constexpr std::string_view kEndTag = "</K390>";

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

bool IsNaN(std::string_view text) {
  return text.size() == 3 && (text[0] | 0x20) == 'n' && (text[1] | 0x20) == 'a' &&
         (text[2] | 0x20) == 'n';
}

// Runs a conversion and names the line when it throws.
template <class F>
auto AtLine(int64_t number, F&& convert) {
  try {
    return convert();
  } catch (const common::Error& e) {
    throw common::Error(LineMessage(number, e.Message()));
  }
}

// Unsigned decimal digits, parsed without the checks of a general conversion: a stream log of
// ten million lines is read at memory speed.
int64_t Delta(std::string_view text) {
  uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() ||
      value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
    throw common::Error(common::NotAnIntegerMessage(text));
  }
  return static_cast<int64_t>(value);
}

}  // namespace

void ForEachLine(std::string_view text,
                 const std::function<void(int64_t number, std::string_view line)>& line) {
  int64_t number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) {
      line(++number, text.substr(pos));
      return;
    }
    line(++number, text.substr(pos, end - pos));
    pos = end + 1;
    if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
  }
}

std::string LineMessage(int64_t number, std::string_view message) {
  return "line " + std::to_string(number) + ": " + std::string(message);
}

std::vector<int64_t> ReplyIntervals(std::string_view reply) {
  std::vector<int64_t> intervals;
  int64_t count1 = 0;
  int64_t k = 0;
  int64_t previous = 0;
  bool ended = false;
  bool header_seen = false;
  ForEachLine(reply, [&](int64_t number, std::string_view line) {
    if (ended) return;
    if (!header_seen) {
      header_seen = true;
      const size_t tag = line.find(kSamplesTag);
      if (tag == std::string_view::npos) {
        ended = true;
        return;
      }
      const size_t from = tag + kSamplesTag.size();
      const size_t comma = line.find(',', from);
      const size_t close = line.find('<', from);
      const size_t to = std::min(comma, close);
      count1 = AtLine(number, [&] {
        return static_cast<int64_t>(common::HexToInt32(line.substr(from, to - from)));
      });
      return;
    }
    if (line.find(kEndTag) != std::string_view::npos) {
      ended = true;
      return;
    }
    if (IsBlank(line)) return;
    AtLine(number, [&] {
      const size_t first = line.find(',');
      const size_t second = first == std::string_view::npos ? first : line.find(',', first + 1);
      const int64_t index = common::HexToInt32(line.substr(0, first));
      if (index != k) return 0;
      const std::string_view stamp = first == std::string_view::npos
                                         ? std::string_view()
                                         : line.substr(first + 1, second - first - 1);
      const int64_t current = common::HexToInt64(stamp);
      if (k >= 1 && k < count1) intervals.push_back(common::DeltaRule(previous, current));
      previous = current;
      ++k;
      return 0;
    });
  });
  return intervals;
}

std::vector<int64_t> ListIntervals(std::string_view list, int64_t first_line) {
  std::vector<int64_t> intervals;
  int64_t number = first_line;
  size_t pos = 0;
  while (pos <= list.size() && !list.empty()) {
    size_t comma = list.find(',', pos);
    if (comma == std::string_view::npos) comma = list.size();
    const std::string_view text = list.substr(pos, comma - pos);
    intervals.push_back(AtLine(number, [&] { return common::StrToInt64(text); }));
    ++number;
    pos = comma + 1;
  }
  return intervals;
}

std::vector<int64_t> StreamLogIntervals(std::string_view log) {
  std::vector<int64_t> intervals;
  intervals.reserve(log.size() / 7);
  ForEachLine(log, [&](int64_t number, std::string_view line) {
    if (number == 1 || line.empty()) return;
    intervals.push_back(AtLine(number, [&] { return Delta(line); }));
  });
  return intervals;
}

std::vector<double> ValueLines(std::string_view text) {
  std::vector<double> values;
  ForEachLine(text, [&](int64_t number, std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') return;
    const size_t last = line.find_last_not_of(" \t");
    const std::string_view value = line.substr(first, last - first + 1);
    if (IsNaN(value)) {
      values.push_back(std::numeric_limits<double>::quiet_NaN());
      return;
    }
    values.push_back(AtLine(number, [&] { return common::StrToFloat(value); }));
  });
  return values;
}

}  // namespace analysis
