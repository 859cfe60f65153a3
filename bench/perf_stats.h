#pragma once

// Timing helpers shared by the capture-rate programs.

#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace perf {

// Milliseconds since Clock().start().
inline QElapsedTimer& Clock() {
  static QElapsedTimer clock;
  return clock;
}

inline double NowMs() { return static_cast<double>(Clock().nsecsElapsed()) * 1e-6; }

// A sample of durations in ms with its median, p95 and maximum.
struct Stats {
  std::vector<double> values;
  void Add(double v) { values.push_back(v); }
  double Quantile(double q) const {
    if (values.empty()) return 0;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto k = static_cast<size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(k, sorted.size() - 1)];
  }
  void Print(const char* name, int width = 44) const {
    std::printf("%-*s median %7.2f ms  p95 %7.2f ms  max %7.2f ms  (n=%zu)\n", width, name,
                Quantile(0.5), Quantile(0.95), Quantile(1.0), values.size());
  }
};

}  // namespace perf
