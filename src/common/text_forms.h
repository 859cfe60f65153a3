#pragma once

#include <cstdint>
#include <string>

// The text forms of numbers on screen and in files. All use "." as the decimal point whatever
// the locale. Any thread may call them.
namespace common {

// Decimal digits with a leading "-" when negative.
std::string IntText(int64_t value);

// Fixed-point with exactly `decimals` digits after the point, rounded to nearest (an exact tie
// to even), a leading "-" when negative, no grouping, no padding.
std::string FixedText(double value, int decimals);

// The general form with at most 15 significant digits: trailing zeros dropped and the point
// written only when needed; fixed-point when the magnitude is at least 0.00001 and has at most
// 15 digits before the point, otherwise "<digits>E<exponent>" (e.g. "1.5E-6", "2E20").
std::string GeneralText(double value);

// Round to the nearest integer, ties to even. Throws Error(kInvalidFloatOperation) for NaN,
// infinities and values outside the signed 64-bit range.
int64_t RoundHalfEven(double value);

// Truncate toward zero. Same failures as RoundHalfEven.
int64_t TruncToInt64(double value);

}  // namespace common
