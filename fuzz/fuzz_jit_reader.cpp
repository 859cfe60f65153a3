// Feeds arbitrary ".JIT" file contents through the Load reader. Any failed invariant aborts:
// - an unknown header yields an empty list and no error;
// - interval values are passed on and never fail in the reader;
// - every tick value made from a frequency is a decimal integer;
// - a list of integers written back as an interval file reads back as the same list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/convert.h"
#include "common/error.h"
#include "persistence/jit_file.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

// The comma-separated fields of a list; an empty list has none.
std::vector<std::string_view> Fields(std::string_view list) {
  std::vector<std::string_view> fields;
  if (list.empty()) return fields;
  for (;;) {
    const size_t comma = list.find(',');
    fields.push_back(list.substr(0, comma));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const persistence::JitList got = persistence::ParseJit(content);

  switch (got.form) {
    case persistence::JitForm::kUnknown:
      Check(got.list.empty() && !got.error);
      return 0;
    case persistence::JitForm::kInterval:
      Check(!got.error);
      break;
    case persistence::JitForm::kFrequency:
      for (std::string_view field : Fields(got.list)) {
        try {
          common::StrToInt64(field);
        } catch (const common::Error&) {
          std::abort();
        }
      }
      break;
  }

  std::vector<double> values;
  for (std::string_view field : Fields(got.list)) {
    const std::optional<int32_t> v = common::TryStrToInt(field);
    if (!v) return 0;
    values.push_back(*v);
  }
  std::string canonical;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) canonical.push_back(',');
    canonical += std::to_string(static_cast<int32_t>(values[i]));
  }
  const persistence::JitList again = persistence::ParseJit(persistence::FormatJit(values, true));
  Check(again.form == persistence::JitForm::kInterval && !again.error);
  Check(again.list == canonical);
  return 0;
}
