#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/run_statistics.h"

// The summary file a stream run leaves beside its log at every stop: one JSON object of the
// run's whole figures, written by temp file and rename so a reader never sees half of it.
// Any thread.
namespace persistence {

// "2026-12-09T15:38:20.125Z": UTC, milliseconds.
std::string IsoTime(std::chrono::system_clock::time_point time);

// The summary's path for a log: the log's name with ".summary.json" in place of its extension
// ("run/stream.dat" -> "run/stream.summary.json"; a name without one gains it).
std::string SummaryPath(std::string_view log_path);

// The JSON text of a run's summary (indented, one line end at the end): every figure, the
// stability rows with the columns of `k390tool stability`; a double that is not finite, an
// unknown alpha or bound, and an empty `ended_early` or `ambiguous` as null. `intervals` is not
// written (it is `words` - 1).
std::string RunSummaryJson(const analysis::RunSummary& summary);

// Writes the record beside the log and returns the summary's path. Throws common::Error as
// ReplaceTextFile does.
std::string WriteRunSummary(std::string_view log_path, const analysis::RunSummary& summary);

// Removes the summary beside the log, if there is one: a new run's log has replaced the one it
// described. Throws common::Error("Cannot remove \"<path>\": <reason>").
void RemoveRunSummary(std::string_view log_path);

}  // namespace persistence
