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

// A flight time in ms as prove prints it (from the same product), null for none.
json FlightMs(const std::optional<double>& flight_s) {
  return flight_s ? Real(*flight_s * 1000) : json(nullptr);
}

json ProvingJson(const analysis::ProvingScan& scan, const analysis::ProvingOptions& options) {
  json rows = json::array();
  for (const analysis::ProvingFigures& f : scan.rows) {
    rows.push_back({{"flight_ms", FlightMs(f.flight_s)},
                    {"provings", f.provings},
                    {"provings_with_gaps", f.provings_with_gaps},
                    {"mean_pulses", Real(f.mean_pulses)},
                    {"sd_pct", Real(f.sd_pct)},
                    {"repeat_median_pct", Real(f.repeat_median_pct)},
                    {"repeat_p95_pct", Real(f.repeat_p95_pct)},
                    {"pass_share", Real(f.pass_share)},
                    {"limit_pct", Real(f.limit_pct)}});
  }
  return {{"runs", options.runs},
          {"passes", options.passes},
          {"pause_ms", Real(options.pause_s * 1000)},
          {"limit_pct",
           Real(options.limit_pct.value_or(analysis::RepeatabilityLimitPct(options.runs)))},
          {"rows", std::move(rows)},
          {"shortest_flight_ms_95", FlightMs(scan.shortest_flight_s)},
          {"passing_from_ms_95", FlightMs(scan.passing_from_s)}};
}

json LinesJson(const std::vector<analysis::SpectrumLine>& lines) {
  json out = json::array();
  for (const analysis::SpectrumLine& line : lines) {
    out.push_back({{"freq_hz", Real(line.freq_hz)},
                   {"amplitude_s", Real(line.amplitude_s)},
                   {"amplitude_pct", Real(line.amplitude_pct)},
                   {"divisor", Maybe(line.divisor)}});
  }
  return out;
}

// The record's keys, each null where its part is none; "record_missing" says why, and says so
// of a summary written before the log was analysed.
void AddRecord(json& out, const std::optional<analysis::RunRecordAnalysis>& record) {
  const bool proving = record && record->proving;
  const bool lines = record && record->lines;
  out["proving"] = proving ? ProvingJson(*record->proving, record->proving_options) : json(nullptr);
  out["lines"] = lines ? LinesJson(*record->lines) : json(nullptr);
  out["random_rms_s"] = record ? Maybe(record->random_rms_s) : json(nullptr);
  out["record_missing"] = record ? Maybe(record->missing) : json("not analysed");
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
  AddRecord(out, r.record);
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
