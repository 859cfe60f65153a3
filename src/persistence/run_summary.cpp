#include "persistence/run_summary.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "common/error.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

using nlohmann::json;

json Real(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json Maybe(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

template <class T>
json Maybe(const std::optional<T>& v) {
  if (!v) return json(nullptr);
  if constexpr (std::is_floating_point_v<T>) {
    return Real(*v);
  } else {
    return json(*v);
  }
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const auto ms = std::chrono::floor<std::chrono::milliseconds>(time);
  const auto secs = std::chrono::floor<std::chrono::seconds>(ms);
  const std::time_t t = std::chrono::system_clock::to_time_t(secs);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>((ms - secs).count()));
  return text;
}

std::string SummaryPath(std::string_view log_path) {
  std::filesystem::path path(log_path);
  path.replace_extension(".summary.json");
  return path.string();
}

std::string RunSummaryJson(const analysis::RunSummary& r) {
  json rows = json::array();
  for (const analysis::StabilityRow& row : r.stability) {
    rows.push_back({{"deviation", std::string(analysis::DeviationName(row.deviation))},
                    {"af", row.m},
                    {"tau_s", Real(row.tau_s)},
                    {"n", row.n},
                    {"alpha", Maybe(row.alpha)},
                    {"value", Real(row.value)},
                    {"min", Maybe(row.min)},
                    {"max", Maybe(row.max)}});
  }
  json out = {
      {"start", IsoTime(r.start)},
      {"stop", IsoTime(r.stop)},
      {"words", r.words},
      {"instrument_seconds", Real(r.instrument_seconds)},
      {"mean_rate", Real(r.mean_rate)},
      {"lost_words", r.lost_words},
      {"foreign_datagrams", r.foreign_datagrams},
      {"stray_bytes", r.stray_bytes},
      {"missing_pulses", r.missing_pulses},
      {"extra_pulses", r.extra_pulses},
      {"min_interval", r.min_interval},
      {"min_interval_word", r.min_interval_word},
      {"max_interval", r.max_interval},
      {"max_interval_word", r.max_interval_word},
      {"mean_interval", Real(r.mean_interval)},
      {"std_interval", Real(r.std_interval)},
      {"pp_ticks", r.pp_ticks},
      {"pp_pct", Real(r.pp_pct)},
      {"ended_early", Maybe(r.ended_early)},
      {"ambiguous", Maybe(r.ambiguous)},
      {"uncounted_words", r.uncounted_words},
      {"stability", std::move(rows)},
  };
  return out.dump(2) + "\n";
}

std::string WriteRunSummary(std::string_view log_path, const analysis::RunSummary& record) {
  const std::string path = SummaryPath(log_path);
  ReplaceTextFile(path, RunSummaryJson(record));
  return path;
}

void RemoveRunSummary(std::string_view log_path) {
  const std::string path = SummaryPath(log_path);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw common::FileError("Cannot remove", path, errno);
  }
}

}  // namespace persistence
