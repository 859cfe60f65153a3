#include "persistence/limit_lines.h"

#include <algorithm>
#include <cmath>

#include "common/convert.h"
#include "common/error.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The fields of a row split at every comma, each trimmed.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t from = 0;
  while (true) {
    const size_t comma = line.find(',', from);
    fields.push_back(Trim(line.substr(from, comma - from)));
    if (comma == std::string_view::npos) return fields;
    from = comma + 1;
  }
}

double Positive(std::string_view text, std::string_view column) {
  const double value = common::StrToFloat(text);
  if (!std::isfinite(value) || value <= 0) {
    throw common::Error(std::string(column) + " must be above 0");
  }
  return value;
}

LimitLine& LineOf(std::vector<LimitLine>& lines, std::string_view deviation,
                  std::span<const std::string_view> deviations) {
  if (std::find(deviations.begin(), deviations.end(), deviation) == deviations.end()) {
    throw common::Error("unknown deviation '" + common::Printable(deviation) + "'");
  }
  for (LimitLine& line : lines) {
    if (line.deviation == deviation) return line;
  }
  lines.push_back({std::string(deviation), {}});
  return lines.back();
}

void AddRow(std::string_view row, std::vector<LimitLine>& lines,
            std::span<const std::string_view> deviations) {
  const std::vector<std::string_view> fields = Fields(row);
  if (fields.size() != 3) {
    throw common::Error("expected 3 fields (" + std::string(kLimitLinesHeader) + "), found " +
                        std::to_string(fields.size()));
  }
  LimitLine& line = LineOf(lines, fields[0], deviations);
  const LimitPoint point{Positive(fields[1], "tau_s"), Positive(fields[2], "limit")};
  if (!line.points.empty() && point.tau_s <= line.points.back().tau_s) {
    throw common::Error("tau_s must increase within " + line.deviation);
  }
  line.points.push_back(point);
}

}  // namespace

std::vector<LimitLine> ParseLimitLines(std::string_view text,
                                       std::span<const std::string_view> deviations) {
  std::vector<LimitLine> lines;
  bool header_read = false;
  int64_t number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    ++number;
    if (line.empty() || line.front() == '#') continue;
    try {
      if (!header_read && line != kLimitLinesHeader) {
        throw common::Error("expected the header " + std::string(kLimitLinesHeader));
      }
      if (header_read) AddRow(line, lines, deviations);
      header_read = true;
    } catch (const common::Error& e) {
      throw common::Error("line " + std::to_string(number) + ": " + e.Message());
    }
  }
  if (lines.empty()) throw common::Error("no limit points");
  return lines;
}

std::vector<LimitLine> ReadLimitLines(const std::string& path,
                                      std::span<const std::string_view> deviations) {
  return ParseLimitLines(ReadTextFile(path), deviations);
}

}  // namespace persistence
