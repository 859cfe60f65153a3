#pragma once

// Timing helpers shared by the capture-rate programs.

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
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

// The value after `name` on the command line, or `fallback`.
inline const char* Arg(int argc, char** argv, const char* name, const char* fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return fallback;
}

// A settings file for the window in `dir`: the SETTINGS section with `keys` (KEY=value CR LF
// lines) pointing it at the simulator on 127.0.0.1:`port`.
inline bool WriteSettings(const QTemporaryDir& dir, int port, const std::string& keys) {
  QFile ini(dir.filePath(QStringLiteral("K390cap.ini")));
  if (!ini.open(QIODevice::WriteOnly)) return false;
  const std::string body =
      "[SETTINGS]\r\nIP=127.0.0.1\r\nPORT=" + std::to_string(port) + "\r\n" + keys;
  return ini.write(body.data(), static_cast<qint64>(body.size())) ==
         static_cast<qint64>(body.size());
}

}  // namespace perf
