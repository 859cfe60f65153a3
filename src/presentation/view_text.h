#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// What the views' titles and readout lines are built from.
namespace presentation {

inline constexpr double kNsPerSecond = 1e9;

// printf-style text; the views' lines are short, longer text is cut at 255 characters.
template <class... Values>
std::string Format(const char* format, Values... values) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

// A count grouped by thousands: 1234567 -> "1,234,567".
inline std::string GroupedCount(int64_t count) {
  std::string digits = std::to_string(count);
  const std::ptrdiff_t first = count < 0 ? 1 : 0;
  for (std::ptrdiff_t at = std::ssize(digits) - 3; at > first; at -= 3)
    digits.insert(static_cast<size_t>(at), ",");
  return digits;
}

// A name as the charts' legends show it: "oadev" -> "OADEV".
inline std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return upper;
}

}  // namespace presentation
