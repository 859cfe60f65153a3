#include "analysis/timing_input.h"

#include <charconv>
#include <limits>

#include "acquisition/reply_cursor.h"
#include "common/convert.h"
#include "common/error.h"
#include "common/ticks.h"

namespace analysis {
namespace {

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
  acquisition::ReplyCursor cursor(reply, acquisition::ReplyFraming::kFile);
  const acquisition::ReplyHeader header = cursor.ReadHeader();
  cursor.ThrowFault();
  std::vector<int64_t> intervals;
  if (header != acquisition::ReplyHeader::kCounts) return intervals;
  int64_t previous = 0;
  while (const std::optional<acquisition::ReplyRecord> r = cursor.Next()) {
    if (r->index >= 1 && r->index < cursor.Count1()) {
      intervals.push_back(common::DeltaRule(previous, r->stamp1));
    }
    previous = r->stamp1;
  }
  cursor.ThrowFault();
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
