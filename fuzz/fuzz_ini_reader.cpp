// Feeds arbitrary settings-file texts through the INI lookup and the in-place update. The input
// is "section\0key\0value\0other_key\0content". Any failed invariant aborts:
// - after an update the key reads back as the value written;
// - the bytes that differ lie within one line of the old text (nothing else is rewritten);
// - no other key changes its value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "persistence/ini_file.h"

namespace {

void Check(bool holds) {
  if (!holds) std::abort();
}

std::string_view Segment(std::string_view& rest) {
  const size_t nul = rest.find('\0');
  const std::string_view part = rest.substr(0, nul);
  rest.remove_prefix(nul == std::string_view::npos ? rest.size() : nul + 1);
  return part;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view section = Segment(rest);
  const std::string_view key = Segment(rest);
  const std::string_view value = Segment(rest);
  const std::string_view other_key = Segment(rest);
  const std::string_view content = rest;

  const std::optional<std::string> before = persistence::FindValue(content, section, key);
  if (!persistence::CanStore(section, key, value)) return 0;

  const std::string after = persistence::ReplaceValue(content, section, key, value);
  Check(persistence::FindValue(after, section, key) == std::string(value));
  // Writing the value found back changes nothing a read can see, and writing it twice is stable.
  Check(persistence::ReplaceValue(after, section, key, value) == after);

  size_t prefix = 0;
  while (prefix < content.size() && prefix < after.size() && content[prefix] == after[prefix]) {
    ++prefix;
  }
  size_t suffix = 0;
  while (suffix < content.size() - prefix && suffix < after.size() - prefix &&
         content[content.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::string_view replaced = content.substr(prefix, content.size() - prefix - suffix);
  Check(replaced.find('\n') == std::string_view::npos);

  if (!SameName(other_key, key)) {
    Check(persistence::FindValue(content, section, other_key) ==
          persistence::FindValue(after, section, other_key));
  }
  if (!SameName(other_key, section)) {
    Check(persistence::FindValue(content, other_key, key) ==
          persistence::FindValue(after, other_key, key));
  }
  (void)before;
  return 0;
}
