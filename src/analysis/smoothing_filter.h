#pragma once

#include <array>

#include "acquisition/pulse_data.h"

namespace analysis {

// The raised-cosine (Hann) smoothing filter of the pass. FilterLength L coefficients at table
// indices 1..L, their sum at index 102. Window thread only.
class SmoothingFilter {
 public:
  static constexpr int kSumIndex = 102;

  // Sets FilterLength and FilterHalf = (L + 1) / 2 and rebuilds the table (L <= 0: filter off,
  // the table keeps its contents).
  void SetLength(int length);

  int FilterLength() const { return length_; }
  int FilterHalf() const { return half_; }
  const std::array<double, 103>& FilterTable() const { return table_; }

  // True when the pass may smooth: a length above 0 and a table built for it.
  bool Active() const;

  // Smooths Ch1Intervals into Ch2Intervals (indices h .. n-h) and sets Ch2Count := Ch1Count.
  // Never reads beyond the last interval or index 5000.
  void Apply(acquisition::PulseData& data) const;

 private:
  void BuildFilterTable();

  int length_ = 15;
  int half_ = 8;
  int built_length_ = 0;  // the length the table was last built for; 0 = never built
  std::array<double, 103> table_{};
};

}  // namespace analysis
