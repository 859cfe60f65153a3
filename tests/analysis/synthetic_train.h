#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "analysis/train_view.h"

// Pulse trains built from exact real-valued edge times (ticks), rounded to the tick as the
// instrument would stamp them: the truth the analyses are held against.
namespace analysis::testing {

// A pulse train held in full, with its view.
struct OwnedTrain {
  std::vector<int64_t> index;
  std::vector<int64_t> stamp;
  std::vector<int64_t> extra_stamps;
  TrainView View() const { return {index, stamp, extra_stamps}; }
};

// Pulses 0 .. count - 1 at edge(k) ticks, stamps from the first; the grid indices in `missing`
// are left out and `extra` (real times, ticks from pulse 0) are added as merged extra pulses.
inline OwnedTrain TrainFromEdges(int64_t count, const std::function<double(int64_t)>& edge,
                                 const std::vector<int64_t>& missing = {},
                                 const std::vector<double>& extra = {}) {
  OwnedTrain t;
  const int64_t origin = std::llround(edge(0));
  for (int64_t k = 0; k < count; ++k) {
    if (std::find(missing.begin(), missing.end(), k) != missing.end()) continue;
    t.index.push_back(k);
    t.stamp.push_back(std::llround(edge(k)) - origin);
  }
  for (double e : extra) t.extra_stamps.push_back(std::llround(e) - origin);
  std::sort(t.extra_stamps.begin(), t.extra_stamps.end());
  return t;
}

// Edges k * period displaced by white Gaussian jitter of `rms` ticks (a fixed seed).
inline OwnedTrain JitteredTrain(int64_t count, double period, double rms, uint64_t seed = 7) {
  std::mt19937_64 engine(seed);
  std::normal_distribution<double> noise(0.0, rms);
  std::vector<double> e(static_cast<size_t>(count));
  for (double& x : e) x = noise(engine);
  return TrainFromEdges(count, [&](int64_t k) {
    return static_cast<double>(k) * period + e[static_cast<size_t>(k)];
  });
}

// Intervals of period + offsets[k mod B] ticks: a rotor of B blades, exact to the tick.
inline OwnedTrain PatternTrain(int64_t count, int64_t period, const std::vector<int64_t>& offsets) {
  std::vector<double> edge(static_cast<size_t>(count), 0.0);
  for (int64_t k = 1; k < count; ++k)
    edge[static_cast<size_t>(k)] =
        edge[static_cast<size_t>(k - 1)] +
        static_cast<double>(
            period + offsets[static_cast<size_t>((k - 1) % static_cast<int64_t>(offsets.size()))]);
  return TrainFromEdges(count, [&](int64_t k) { return edge[static_cast<size_t>(k)]; });
}

}  // namespace analysis::testing
