#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "persistence/stability_csv.h"

// The summary file a stream run leaves beside its log at every stop: one JSON object of the
// run's whole figures, written by temp file and rename so a reader never sees half of it.
// Any thread.
namespace persistence {

// One row of the stability table, with the columns of `k390tool stability`.
using SummaryStabilityRow = StabilityCsvRow;

// The figures of a run. Doubles that are not finite are written as null.
struct RunSummaryRecord {
  std::chrono::system_clock::time_point start, stop;
  int64_t words = 0;
  double instrument_seconds = 0;
  double mean_rate = 0;
  int64_t lost_words = 0;
  int64_t foreign_datagrams = 0;  // datagrams from other senders, refused
  int64_t stray_bytes = 0;        // bytes that made no whole word
  int64_t missing_pulses = 0;
  int64_t extra_pulses = 0;
  int64_t min_interval = 0;
  int64_t min_interval_word = 0;
  int64_t max_interval = 0;
  int64_t max_interval_word = 0;
  double mean_interval = 0;
  double std_interval = 0;
  int64_t pp_ticks = 0;
  double pp_pct = 0;
  std::optional<std::string> ended_early;  // why the run stopped before it was asked to
  // Why the pulses' indexing is not sound (a gap the pulses before it did not fix, a period
  // under 8 ticks ...); empty when it is.
  std::optional<std::string> ambiguous;
  // Words of the log the figures do not cover: they could not keep up and gave up from there
  // on. 0 in a sound run.
  int64_t uncounted_words = 0;
  std::vector<SummaryStabilityRow> stability;
};

// "2026-12-09T15:38:20.125Z": UTC, milliseconds.
std::string IsoTime(std::chrono::system_clock::time_point time);

// The summary's path for a log: the log's name with ".summary.json" in place of its extension
// ("run/stream.dat" -> "run/stream.summary.json"; a name without one gains it).
std::string SummaryPath(std::string_view log_path);

// The JSON text of a record (indented, one line end at the end).
std::string RunSummaryJson(const RunSummaryRecord& record);

// Writes the record beside the log and returns the summary's path. Throws common::Error as
// ReplaceTextFile does.
std::string WriteRunSummary(std::string_view log_path, const RunSummaryRecord& record);

// Removes the summary beside the log, if there is one: a new run's log has replaced the one it
// described. Throws common::Error("Cannot remove \"<path>\": <reason>").
void RemoveRunSummary(std::string_view log_path);

}  // namespace persistence
