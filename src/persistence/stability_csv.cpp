#include "persistence/stability_csv.h"

#include <cstdio>

#include "persistence/text_file.h"

namespace persistence {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string Optional(const std::optional<double>& value) {
  return value ? Number(*value) : std::string();
}

}  // namespace

std::string FormatStabilityCsv(std::span<const analysis::StabilityRow> rows) {
  std::string out(kStabilityCsvHeader);
  out += '\n';
  for (const analysis::StabilityRow& r : rows) {
    out += analysis::DeviationName(r.deviation);
    out += ',' + std::to_string(r.m) + ',' + Number(r.tau_s) + ',' + std::to_string(r.n);
    out += ',' + (r.alpha ? std::to_string(*r.alpha) : std::string());
    out += ',' + Number(r.value) + ',' + Optional(r.min) + ',' + Optional(r.max) + '\n';
  }
  return out;
}

void WriteStabilityCsv(const std::string& path, std::span<const analysis::StabilityRow> rows) {
  ReplaceTextFile(path, FormatStabilityCsv(rows));
}

}  // namespace persistence
