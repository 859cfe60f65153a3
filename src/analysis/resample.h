#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace analysis {

inline constexpr int kResampleMaxLines = 10000;

// The smoothed log and how its reading ended.
struct Resampled {
  std::string text;  // "x,a" CR LF lines
  int lines = 0;
  // The message of the line that stopped the smoothing; `text` holds the lines before it.
  std::optional<std::string> error;
};

// Smooths a stream log (one delta in ticks per line; CR LF, LF or a lone CR ends a line) over a
// 9-point raised-cosine window. The first line is skipped; each output line "x,a" CR LF pairs the
// centre delta x with the smoothed value a, at most 10,000 lines. A line that is not a signed
// 32-bit integer (reading past the end gives the empty text) ends the smoothing with its
// conversion message. Pure; any thread.
Resampled ResampleText(std::string_view log);

}  // namespace analysis
