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

[[noreturn]] void NotADelta(int64_t number, std::string_view line) {
  throw common::Error(LineMessage(number, common::NotAnIntegerMessage(line)));
}

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

}  // namespace

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
  StreamLogParser(intervals).Parse(log, true);
  return intervals;
}

size_t StreamLogParser::Parse(std::string_view text, bool last) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p < end) {
    const char* line_end = p;
    uint64_t value = 0;
    const bool first = lines_ == 0;
    if (!first && !IsLineEnd(*p)) {
      const auto [stop, ec] = std::from_chars(p, end, value);
      line_end = stop;
      if (ec != std::errc() || (stop < end && !IsLineEnd(*stop)) ||
          value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        if (ec == std::errc() && stop == end && !last) break;  // digits run on in the next piece
        while (line_end < end && !IsLineEnd(*line_end)) ++line_end;
        if (line_end == end && !last) break;
        NotADelta(lines_ + 1, std::string_view(p, static_cast<size_t>(line_end - p)));
      }
    } else {
      while (line_end < end && !IsLineEnd(*line_end)) ++line_end;
    }
    // A line needs its end, or the last piece; a CR needs the byte after it, which may be its LF.
    if (line_end == end && !last) break;
    if (line_end + 1 == end && *line_end == '\r' && !last) break;
    if (!first && line_end > p) out_.push_back(static_cast<int64_t>(value));
    ++lines_;
    if (line_end < end) {
      const bool crlf = *line_end == '\r' && line_end + 1 < end && line_end[1] == '\n';
      line_end += crlf ? 2 : 1;
    }
    p = line_end;
  }
  return static_cast<size_t>(p - begin);
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
