#include "analysis/smoothing_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "common/convert.h"

namespace analysis {
namespace {

constexpr int kSpinMin = 3;
constexpr int kSpinMax = 33;

}  // namespace

void SmoothingFilter::SetLength(int length) {
  length_ = length;
  half_ = (length + 1) / 2;
  if (length > 0 && length <= kMaxLength) BuildFilterTable();
}

void SmoothingFilter::BuildFilterTable() {
  const long double pi = std::numbers::pi_v<long double>;
  for (int i = 1; i <= length_; ++i) {
    const long double quotient =
        static_cast<long double>(i - half_) / static_cast<long double>(length_ + 1);
    table_[static_cast<size_t>(i)] = static_cast<double>(0.5L + 0.5L * std::cos(quotient * 2 * pi));
  }
  table_[kSumIndex] = 0;
  for (int i = 1; i <= length_; ++i) table_[kSumIndex] += table_[static_cast<size_t>(i)];
  built_length_ = length_;
}

// A table from start-up is never built when start-up stops early; smoothing with its zero sum
// would divide 0 by 0, so the filter only runs on a table built for the current length.
bool SmoothingFilter::Active() const {
  return length_ > 0 && built_length_ == length_ && table_[kSumIndex] != 0;
}

void SmoothingFilter::Apply(acquisition::PulseData& data) const {
  if (!Active()) return;
  const int64_t n = std::min<int64_t>(data.Ch1Count, acquisition::kMaxIntervals + 1);
  const int64_t h = half_;
  const int64_t l = length_;
  // The window of output s covers intervals s-h+1 .. s-h+l; the last interval is n-1. For an
  // odd length that is exactly s <= n-h; an even length would reach one further.
  const int64_t last = std::min(n - h, n - 1 - l + h);
  for (int64_t s = h; s <= last; ++s) {
    double a = 0;
    for (int64_t i = 1; i <= l; ++i) {
      const long double product =
          static_cast<long double>(data.Ch1Intervals[static_cast<size_t>(s - h + i)]) *
          static_cast<long double>(table_[static_cast<size_t>(i)]);
      a = static_cast<double>(a + product);
    }
    data.Ch2Intervals[static_cast<size_t>(s)] = a / table_[kSumIndex];
  }
  data.Ch2Count = data.Ch1Count;
}

int NormaliseFilterValue(int value) {
  if (value % 2 == 0) value = std::clamp(value + 1, kSpinMin, kSpinMax);
  return std::clamp(value, kSpinMin, kSpinMax);
}

int NormaliseFilterText(std::string_view text) {
  return NormaliseFilterValue(common::TryStrToInt(text).value_or(kSpinMin));
}

}  // namespace analysis
