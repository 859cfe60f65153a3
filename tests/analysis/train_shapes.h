#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

// Pulse trains built from exact edge times, the truth the indexing is checked against.
namespace analysis {

// A train built from exact edge times, the truth it is checked against: grid index k at
// 1000.37 + k * period + Gaussian jitter ticks, stamped by a counter of whole ticks (floor), the
// indices of `gaps` left out, and extra edges a fraction of a period after some pulses.
struct Shape {
  const char* name;
  double period;
  double jitter_sd;
  int64_t indices;                                 // grid indices 0 .. indices - 1
  std::vector<std::pair<int64_t, int64_t>> gaps;   // first missing index, missing count
  std::vector<std::pair<int64_t, double>> extras;  // after index, fraction of a period
};

struct Truth {
  std::vector<int64_t> intervals;
  std::vector<int64_t> index;  // of the pulses kept
  int64_t missing = 0;
  int64_t extra = 0;
};

inline Truth Build(const Shape& shape, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::normal_distribution<double> jitter(0, shape.jitter_sd);
  Truth truth;
  std::vector<int64_t> stamps;
  size_t gap = 0, extra = 0;
  const auto at = [&](int64_t k, double fraction) {
    return static_cast<int64_t>(
        std::floor(1000.37 + (static_cast<double>(k) + fraction) * shape.period));
  };
  for (int64_t k = 0; k < shape.indices; ++k) {
    if (gap < shape.gaps.size() && k == shape.gaps[gap].first) {
      k += shape.gaps[gap].second - 1;
      truth.missing += shape.gaps[gap++].second;
      continue;
    }
    stamps.push_back(static_cast<int64_t>(
        std::floor(1000.37 + static_cast<double>(k) * shape.period + jitter(rng))));
    truth.index.push_back(k);
    for (; extra < shape.extras.size() && shape.extras[extra].first == k; ++extra) {
      stamps.push_back(at(k, shape.extras[extra].second));
      ++truth.extra;
    }
  }
  for (size_t i = 1; i < stamps.size(); ++i) truth.intervals.push_back(stamps[i] - stamps[i - 1]);
  return truth;
}

}  // namespace analysis
