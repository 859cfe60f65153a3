#include "common/text_forms.h"

#include <array>
#include <charconv>
#include <cmath>

#include "common/error.h"

namespace common {
namespace {

// 2^63 as a double: the first value past the signed 64-bit range.
constexpr double kTwo63 = 9223372036854775808.0;

void CheckInt64Range(double value) {
  if (!(value >= -kTwo63 && value < kTwo63)) throw Error(std::string(kInvalidFloatOperation));
}

}  // namespace

std::string IntText(int64_t value) { return std::to_string(value); }

std::string FixedText(double value, int decimals) {
  std::array<char, 400> buffer;
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::fixed, decimals);
  if (ec != std::errc()) throw Error(std::string(kInvalidFloatOperation));
  std::string text(buffer.data(), end);
  // A negative value that rounds to zero is written without its sign.
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
  return text;
}

std::string GeneralText(double value) {
  if (value == 0) return "0";
  if (!std::isfinite(value)) throw Error(std::string(kInvalidFloatOperation));
  // Round to 15 significant digits first: d.dddddddddddddde±x.
  std::array<char, 64> buffer;
  const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                       std::chars_format::scientific, 14);
  if (ec != std::errc()) throw Error(std::string(kInvalidFloatOperation));
  const std::string_view sci(buffer.data(), end - buffer.data());
  const bool negative = sci.front() == '-';
  const size_t e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(negative ? 1 : 0, e_pos - (negative ? 1 : 0))) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::from_chars(sci.data() + e_pos + 1 + (sci[e_pos + 1] == '+'), sci.data() + sci.size(),
                  exponent);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string text = negative ? "-" : "";
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      text += "0.";
      text.append(static_cast<size_t>(-exponent - 1), '0');
      text += digits;
    } else if (digits.size() <= static_cast<size_t>(exponent) + 1) {
      text += digits;
      text.append(static_cast<size_t>(exponent) + 1 - digits.size(), '0');
    } else {
      text += digits.substr(0, exponent + 1);
      text += '.';
      text += digits.substr(exponent + 1);
    }
  } else {
    text += digits.substr(0, 1);
    if (digits.size() > 1) {
      text += '.';
      text += digits.substr(1);
    }
    text += 'E';
    text += std::to_string(exponent);
  }
  return text;
}

int64_t RoundHalfEven(double value) {
  const double rounded = std::nearbyint(value);  // the default mode rounds ties to even
  CheckInt64Range(rounded);
  return static_cast<int64_t>(rounded);
}

int64_t TruncToInt64(double value) {
  const double truncated = std::trunc(value);
  CheckInt64Range(truncated);
  return static_cast<int64_t>(truncated);
}

}  // namespace common
