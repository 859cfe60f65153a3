#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Strict text-to-number conversions. Any thread may call them.
namespace common {

// Decimal integer: an optional "+" or "-" and at least one digit, nothing else (no blanks).
// Throws Error("'<text>' is not a valid integer value") when the text is not such an integer
// or does not fit the type.
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
std::optional<int32_t> TryStrToInt(std::string_view text);

// Bare hexadecimal digits (0-9, A-F, a-f), at least one; leading zeros allowed. The value must
// fit in 32 (64) bits and is taken as two's complement, so FFFFFFFF reads as -1. Throws
// Error("'$<digits>' is not a valid integer value") otherwise.
int32_t HexToInt32(std::string_view digits);
int64_t HexToInt64(std::string_view digits);

// Decimal number with "." as the decimal point: optional sign, digits with an optional
// fraction, an optional exponent ("E" or "e"). Throws Error("'<text>' is not a valid floating
// point value") otherwise.
double StrToFloat(std::string_view text);

}  // namespace common
