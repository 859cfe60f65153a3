#include "persistence/channel_summary.h"

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "persistence/run_summary.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

using json = nlohmann::ordered_json;

json Real(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

}  // namespace

std::string ChannelSummaryJson(const ChannelSummaryRecord& r) {
  const analysis::ChannelRunTotals& t = r.totals;
  const analysis::SecurityCounts& c = t.counts;
  json errors = json::array();
  for (const analysis::RunChannelError& e : t.errors) {
    errors.push_back({{"block", e.block},
                      {"error", analysis::ChannelErrorName(e.entry.error)},
                      {"record", e.entry.record},
                      {"time_s", Real(e.entry.time_s)}});
  }
  const json j = {
      {"start", IsoTime(r.start)},
      {"stop", IsoTime(r.stop)},
      {"window_deg", Real(r.window_deg)},
      {"blocks", c.blocks},
      {"blocks_not_paired", t.blocks_not_paired},
      {"blocks_with_errors", t.blocks_with_errors},
      {"paired", c.paired},
      {"unpaired_ch1", c.unpaired_ch1},
      {"unpaired_ch2", c.unpaired_ch2},
      {"missing_ch1", c.missing_ch1},
      {"missing_ch2", c.missing_ch2},
      {"extra_ch1", c.extra_ch1},
      {"extra_ch2", c.extra_ch2},
      {"sequence_errors", c.sequence_errors},
      {"lagging", c.lagging},
      {"leading", c.leading},
      {"direction", analysis::DirectionName(c.DirectionSeen())},
      {"phase_mean_min_deg", Real(t.phase_mean_min_deg)},
      {"phase_mean_max_deg", Real(t.phase_mean_max_deg)},
      {"errors", errors},
  };
  return j.dump(2) + "\n";
}

std::string WriteChannelSummary(const std::string& dir, const ChannelSummaryRecord& record) {
  const std::string path = (std::filesystem::path(dir) / kCaptureSummaryName).string();
  ReplaceTextFile(path, ChannelSummaryJson(record));
  return path;
}

}  // namespace persistence
