// Feeds arbitrary ".JIT" file contents through the Load reader. Any failed invariant aborts:
// - an unknown header yields no values and no error;
// - the pass takes a leading part of the values, every one in the signed 32-bit range, and stops
//   early only with a conversion message;
// - the values the pass takes, written back as an interval file, read back as the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "persistence/jit_file.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const persistence::JitList got = persistence::ParseJit(content);

  if (got.form == persistence::JitForm::kUnknown) {
    Check(got.ticks.empty() && !got.error && got.pass_count == 0 && !got.pass_error);
    return 0;
  }
  Check(got.pass_count <= got.ticks.size());
  // Without a stop of its own the pass takes every value that was read.
  if (!got.pass_error && !got.Refused()) Check(got.pass_count == got.ticks.size());
  if (got.pass_error) Check(!got.pass_error->empty());

  const std::vector<int32_t> taken = got.PassValues();
  std::vector<double> values(taken.begin(), taken.end());
  const persistence::JitList again = persistence::ParseJit(persistence::FormatJit(values, true));
  Check(again.form == persistence::JitForm::kInterval && !again.error && !again.pass_error);
  Check(again.PassValues() == taken);
  return 0;
}
