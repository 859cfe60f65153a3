#include "common/convert.h"

#include <charconv>
#include <limits>

#include "common/error.h"

namespace common {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses an optional sign and decimal digits; nullopt when the text is not exactly that or the
// value lies outside [lo, hi].
std::optional<int64_t> ParseDecimal(std::string_view text, int64_t lo, int64_t hi) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulate as a negative number so that the most negative value fits.
  int64_t value = 0;
  const int64_t min = std::numeric_limits<int64_t>::min();
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    const int digit = text[i] - '0';
    if (value < (min + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == min) return std::nullopt;
    value = -value;
  }
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

std::optional<uint64_t> ParseHex(std::string_view digits, int bits) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  const uint64_t limit = bits == 64 ? std::numeric_limits<uint64_t>::max() : 0xFFFFFFFFull;
  for (char c : digits) {
    const int v = HexValue(c);
    if (v < 0) return std::nullopt;
    if (value > (limit >> 4)) return std::nullopt;
    value = (value << 4) | static_cast<uint64_t>(v);
  }
  return value;
}

std::string Dollar(std::string_view digits) {
  std::string text = "$";
  text += digits;
  return text;
}

}  // namespace

int32_t StrToInt(std::string_view text) {
  const auto value = TryStrToInt(text);
  if (!value) throw Error(NotAnIntegerMessage(text));
  return *value;
}

std::optional<int32_t> TryStrToInt(std::string_view text) {
  const auto value =
      ParseDecimal(text, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
  if (!value) return std::nullopt;
  return static_cast<int32_t>(*value);
}

int64_t StrToInt64(std::string_view text) {
  const auto value =
      ParseDecimal(text, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
  if (!value) throw Error(NotAnIntegerMessage(text));
  return *value;
}

int32_t HexToInt32(std::string_view digits) {
  const auto value = ParseHex(digits, 32);
  if (!value) throw Error(NotAnIntegerMessage(Dollar(digits)));
  return static_cast<int32_t>(static_cast<uint32_t>(*value));
}

int64_t HexToInt64(std::string_view digits) {
  const auto value = ParseHex(digits, 64);
  if (!value) throw Error(NotAnIntegerMessage(Dollar(digits)));
  return static_cast<int64_t>(*value);
}

double StrToFloat(std::string_view text) {
  // from_chars accepts no leading "+", so strip it here; it also takes "inf" and "nan", which
  // are not numbers to an operator.
  std::string_view body = text;
  if (!body.empty() && body.front() == '+') body.remove_prefix(1);
  const bool shaped =
      !body.empty() &&
      (IsDigit(body.front()) || body.front() == '.' ||
       (body.front() == '-' && body.size() > 1 && (IsDigit(body[1]) || body[1] == '.')));
  double value = 0;
  if (shaped) {
    const auto [end, ec] =
        std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
    if (ec == std::errc() && end == body.data() + body.size()) return value;
  }
  throw Error(NotAFloatMessage(text));
}

}  // namespace common
