#include "persistence/run_summary.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "persistence/text_file.h"

namespace persistence {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

TEST(RunSummary, PathReplacesTheLogsExtension) {
  struct Case {
    const char* log;
    const char* summary;
  };
  const Case cases[] = {
      {"stream.dat", "stream.summary.json"},
      {"/runs/a.b/stream.dat", "/runs/a.b/stream.summary.json"},
      {"runs/stream", "runs/stream.summary.json"},
  };
  for (const Case& c : cases) EXPECT_EQ(SummaryPath(c.log), c.summary) << c.log;
}

TEST(RunSummary, IsoTimeIsUtcWithMilliseconds) {
  using namespace std::chrono;
  const system_clock::time_point t = sys_days{year{2026} / 12 / 9} + hours{15} + minutes{38} +
                                     seconds{20} + milliseconds{7} + microseconds{999};
  EXPECT_EQ(IsoTime(t), "2026-12-09T15:38:20.007Z");
}

TEST(RunSummary, WrittenFileReadsBackWithEveryKeyAndType) {
  const fs::path dir = fs::temp_directory_path() / ("k390_summary_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string log = (dir / "stream.dat").string();

  analysis::RunSummary r;
  r.start = std::chrono::system_clock::time_point{} + std::chrono::hours{24 * 365};
  r.stop = r.start + std::chrono::seconds{90};
  r.words = 1001;
  r.instrument_seconds = 1.0;
  r.mean_rate = 1001;
  r.lost_words = 3;
  r.foreign_datagrams = 5;
  r.stray_bytes = 2;
  r.missing_pulses = 2;
  r.extra_pulses = 1;
  r.min_interval = 39990;
  r.min_interval_word = 17;
  r.max_interval = 80010;
  r.max_interval_word = 99;
  r.mean_interval = 40000.5;
  r.std_interval = std::numeric_limits<double>::quiet_NaN();  // not finite: null
  r.pp_ticks = 40020;
  r.pp_pct = 100.05;
  r.intervals = 1000;  // not a key of the file
  using analysis::Deviation;
  r.stability = {{Deviation::kOadev, 4, 4e-3, 1990, 2, 1.5e-9, 1.4e-9, 1.6e-9},
                 {Deviation::kMtie, 4, 4e-3, 1996, std::nullopt, 3e-7, std::nullopt, std::nullopt}};

  for (const std::string ended : {"", "disk full"}) {
    r.ended_early = ended;
    r.ambiguous = ended;
    ASSERT_EQ(WriteRunSummary(log, r), (dir / "stream.summary.json").string());
    const json j = json::parse(ReadTextFile((dir / "stream.summary.json").string()));
    EXPECT_FALSE(fs::exists(dir / "stream.summary.json.tmp"));

    EXPECT_EQ(j.at("start"), "1971-01-01T00:00:00.000Z");
    EXPECT_EQ(j.at("stop"), "1971-01-01T00:01:30.000Z");
    for (const char* key : {"words", "lost_words", "missing_pulses", "extra_pulses", "min_interval",
                            "min_interval_word", "max_interval", "max_interval_word", "pp_ticks",
                            "uncounted_words", "foreign_datagrams", "stray_bytes"}) {
      EXPECT_TRUE(j.at(key).is_number_integer()) << key;
    }
    for (const char* key : {"instrument_seconds", "mean_rate", "mean_interval", "pp_pct"}) {
      EXPECT_TRUE(j.at(key).is_number_float()) << key;
    }
    EXPECT_EQ(j.at("max_interval_word"), 99);
    EXPECT_EQ(j.at("foreign_datagrams"), 5);
    EXPECT_EQ(j.at("stray_bytes"), 2);
    EXPECT_EQ(j.at("mean_interval"), 40000.5);
    EXPECT_TRUE(j.at("std_interval").is_null());
    for (const char* key : {"ended_early", "ambiguous"}) {
      if (!ended.empty()) {
        EXPECT_EQ(j.at(key), ended) << key;
      } else {
        EXPECT_TRUE(j.at(key).is_null()) << key;
      }
    }
    EXPECT_EQ(j.size(), 26u);

    const json& rows = j.at("stability");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("deviation"), "oadev");
    EXPECT_EQ(rows[0].at("af"), 4);
    EXPECT_EQ(rows[0].at("n"), 1990);
    EXPECT_EQ(rows[0].at("alpha"), 2);
    EXPECT_EQ(rows[0].at("value"), 1.5e-9);  // doubles keep every digit
    EXPECT_EQ(rows[0].at("max"), 1.6e-9);
    for (const char* key : {"alpha", "min", "max"}) EXPECT_TRUE(rows[1].at(key).is_null()) << key;
    EXPECT_EQ(rows[1].at("tau_s"), 4e-3);
  }
  fs::remove_all(dir);
}

// The record's keys: null where its part is none, with why; the figures where it has them,
// NaN and inf as null.
TEST(RunSummary, RecordKeysArePresentOrNullWithWhy) {
  analysis::ProvingScan scan;
  analysis::ProvingFigures counted;
  counted.flight_s = 0.0125;
  counted.provings = 20;
  counted.provings_with_gaps = 2;
  counted.mean_pulses = 62.5;
  counted.sd_pct = 0.01;
  counted.repeat_median_pct = 0.02;
  counted.repeat_p95_pct = std::numeric_limits<double>::infinity();  // a pass without a pulse
  counted.pass_share = 0.9;
  counted.limit_pct = 0.05;
  analysis::ProvingFigures none;  // no proving counted: its figures are NaN
  none.flight_s = 0.01;
  none.limit_pct = 0.05;
  scan.rows = {none, counted};
  scan.passing_from_s = 0.0125;
  const std::vector<analysis::SpectrumLine> lines = {{500, 1.5e-6, 0.75, 10},
                                                     {1500, 2e-7, 0.1, std::nullopt}};
  analysis::RunRecordAnalysis both;
  both.proving = scan;
  both.lines = lines;
  both.random_rms_s = 5e-8;
  analysis::RunRecordAnalysis lines_only;
  lines_only.lines = std::vector<analysis::SpectrumLine>{};
  lines_only.random_rms_s = 7e-9;
  lines_only.missing = "too short";

  const struct {
    const char* name;
    std::optional<analysis::RunRecordAnalysis> record;
    bool proving, lines;
    json random_rms_s, record_missing;
  } cases[] = {
      {"not analysed", std::nullopt, false, false, nullptr, "not analysed"},
      {"both", both, true, true, 5e-8, nullptr},
      {"lines only", lines_only, false, true, 7e-9, "too short"},
  };
  for (const auto& c : cases) {
    analysis::RunSummary r;
    r.record = c.record;
    const json j = json::parse(RunSummaryJson(r));
    EXPECT_EQ(j.size(), 26u) << c.name;
    EXPECT_EQ(j.at("words"), 0) << c.name;  // the keys before stay
    EXPECT_EQ(j.at("proving").is_null(), !c.proving) << c.name;
    EXPECT_EQ(j.at("lines").is_null(), !c.lines) << c.name;
    EXPECT_EQ(j.at("random_rms_s"), c.random_rms_s) << c.name;
    EXPECT_EQ(j.at("record_missing"), c.record_missing) << c.name;
  }

  analysis::RunSummary r;
  r.record = both;
  const json j = json::parse(RunSummaryJson(r));
  const json& p = j.at("proving");
  EXPECT_EQ(p.at("runs"), 5);
  EXPECT_EQ(p.at("passes"), 1);
  EXPECT_EQ(p.at("pause_ms"), 0.0);
  EXPECT_EQ(p.at("limit_pct"), 0.05);  // the published limit of 5 runs
  EXPECT_TRUE(p.at("shortest_flight_ms_95").is_null());
  EXPECT_EQ(p.at("passing_from_ms_95"), 12.5);
  ASSERT_EQ(p.at("rows").size(), 2u);
  EXPECT_EQ(p.at("rows")[0], json({{"flight_ms", 10.0},
                                   {"provings", 0},
                                   {"provings_with_gaps", 0},
                                   {"mean_pulses", nullptr},
                                   {"sd_pct", nullptr},
                                   {"repeat_median_pct", nullptr},
                                   {"repeat_p95_pct", nullptr},
                                   {"pass_share", nullptr},
                                   {"limit_pct", 0.05}}));
  EXPECT_EQ(p.at("rows")[1], json({{"flight_ms", 12.5},
                                   {"provings", 20},
                                   {"provings_with_gaps", 2},
                                   {"mean_pulses", 62.5},
                                   {"sd_pct", 0.01},
                                   {"repeat_median_pct", 0.02},
                                   {"repeat_p95_pct", nullptr},
                                   {"pass_share", 0.9},
                                   {"limit_pct", 0.05}}));
  const json& l = j.at("lines");
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(
      l[0],
      json(
          {{"freq_hz", 500.0}, {"amplitude_s", 1.5e-6}, {"amplitude_pct", 0.75}, {"divisor", 10}}));
  EXPECT_TRUE(l[1].at("divisor").is_null());
  EXPECT_EQ(l[1].at("freq_hz"), 1500.0);
}

}  // namespace
}  // namespace persistence
