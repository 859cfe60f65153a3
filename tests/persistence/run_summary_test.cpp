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
    EXPECT_EQ(j.size(), 22u);

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

}  // namespace
}  // namespace persistence
