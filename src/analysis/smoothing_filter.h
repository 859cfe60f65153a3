#pragma once

#include <array>
#include <string_view>

#include "acquisition/pulse_data.h"

namespace analysis {

// The raised-cosine (Hann) smoothing filter of the pass. FilterLength L coefficients at table
// indices 1..L, their sum at index 102. Window thread only.
class SmoothingFilter {
 public:
  static constexpr int kSumIndex = 102;
  static constexpr int kMaxLength = 101;  // coefficients fit at table indices 1..101

  // Sets FilterLength and FilterHalf = (L + 1) / 2 and rebuilds the table (L <= 0: filter off,
  // the table keeps its contents). A length above 101 does not fit the table: the table is left
  // as it was and the filter stays off until a length that fits is set.
  void SetLength(int length);

  int FilterLength() const { return length_; }
  int FilterHalf() const { return half_; }
  const std::array<double, 103>& FilterTable() const { return table_; }

  // True when the pass may smooth: a length above 0 and a table built for it.
  bool Active() const;

  // Smooths Ch1Intervals into Ch2Intervals (indices h .. n-h) and sets Ch2Count := Ch1Count.
  // Never reads beyond the last interval or index 5000: an even length, whose window reaches one
  // past the centre, ends one output earlier. Does nothing to the arrays unless Active().
  void Apply(acquisition::PulseData& data) const;

 private:
  void BuildFilterTable();

  int length_ = 15;
  int half_ = 8;
  int built_length_ = 0;  // the length the table was last built for; 0 = never built
  std::array<double, 103> table_{};
};

// The value the filter spin box settles on for an entered value: an even value steps up by one,
// then the result is kept within 3..33 (4 -> 5, 50 -> 33, 1 -> 3).
int NormaliseFilterValue(int value);

// The same for the box's text: a text that is not an integer (an empty box) counts as 3.
int NormaliseFilterText(std::string_view text);

}  // namespace analysis
