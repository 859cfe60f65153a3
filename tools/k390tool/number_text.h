#pragma once

#include <cmath>
#include <cstdio>
#include <string>

// How k390tool prints one number in its key=value and CSV lines.
namespace k390tool {

// `value` through a printf format of one double ("%.6e", "%.10g" ...).
inline std::string Printed(const char* format, double value) {
  char text[96];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// As Printed, but an empty field for NaN: a figure that has no value.
inline std::string PrintedOrEmpty(const char* format, double value) {
  return std::isnan(value) ? std::string() : Printed(format, value);
}

}  // namespace k390tool
