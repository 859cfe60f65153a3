#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "analysis/channel_run.h"

// The summary a two-channel capture run leaves beside its blocks, DIR/capture.summary.json: the
// run's pairing and pulse security totals as one JSON object, replaced after every block by temp
// file and rename, so a reader never sees half of it and a run cut short keeps its totals so far.
// Its own small writer for now, beside the stream's run summary. Any thread.
namespace persistence {

inline constexpr std::string_view kCaptureSummaryName = "capture.summary.json";

struct ChannelSummaryRecord {
  std::chrono::system_clock::time_point start, stop;  // the run's first request, latest block
  double window_deg = 0;                              // the phase window judged against
  analysis::ChannelRunTotals totals;
};

// The JSON text (indented, one line end at the end); figures that are not finite are null.
std::string ChannelSummaryJson(const ChannelSummaryRecord& record);

// Writes the record as DIR/capture.summary.json and returns its path. Throws common::Error as
// ReplaceTextFile does.
std::string WriteChannelSummary(const std::string& dir, const ChannelSummaryRecord& record);

}  // namespace persistence
