#pragma once

#include <cstdint>

namespace analysis {

// A sum of squares: integer terms of moderate size exactly in 128 bits (no rounding and no
// conversion in the loop), anything else in extended precision. The batch stability table and
// the whole-run statistics of a stream both sum with it, so the two agree to the last bit.
struct SquaresSum {
  __int128 exact = 0;
  long double rest = 0;
  int64_t n = 0;

  static constexpr __int128 kExactLimit = __int128{1} << 40;
  void Add(__int128 v) {
    if (v < kExactLimit && v > -kExactLimit) {
      exact += v * v;
    } else {
      const long double r = static_cast<long double>(v);
      rest += r * r;
    }
    ++n;
  }
  // The common term, a 64-bit difference: one 64 by 64 bit multiply.
  void Add(int64_t v) {
    if (v < int64_t{1} << 40 && v > -(int64_t{1} << 40)) {
      exact += static_cast<__int128>(v) * v;
      ++n;
    } else {
      Add(static_cast<__int128>(v));
    }
  }
  void Add(long double v) {
    rest += v * v;
    ++n;
  }
  void Add(double v) { Add(static_cast<long double>(v)); }
  // A modified-deviation term from the `present` of the `of` second differences of its window
  // and their sum: the sum scaled to the whole window (sum of / present), so a whole window adds
  // its sum as Add does (exactly, when whole numbers) and only a partial one is divided.
  template <class Sum>
  void AddScaled(Sum sum, int64_t present, int64_t of) {
    if (present == of) return Add(sum);
    Add(static_cast<long double>(sum) * static_cast<long double>(of) /
        static_cast<long double>(present));
  }
  long double Sum() const { return static_cast<long double>(exact) + rest; }
};

}  // namespace analysis
