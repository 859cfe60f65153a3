#include "persistence/window_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/error.h"

namespace persistence {
namespace {

class WindowSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ =
        (std::filesystem::temp_directory_path() /
         ("window_settings_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
          "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ini"))
            .string();
    std::filesystem::remove(path_);
  }
  void TearDown() override { std::filesystem::remove(path_); }

  WindowSettings Read(const std::string& body) {
    std::ofstream(path_, std::ios::binary) << "[SETTINGS]\r\n" << body;
    return ReadWindowSettings(path_);
  }

  std::string path_;
};

TEST_F(WindowSettingsTest, AMissingFileGivesEveryDefault) {
  const WindowSettings s = ReadWindowSettings(path_);
  EXPECT_EQ(s.ip, "10.0.98.108");
  EXPECT_EQ(s.port, "38253");
  EXPECT_EQ(s.samples.Value(), 50);
  EXPECT_EQ(s.scale_bits.Value(), 100);
  EXPECT_EQ(s.scale_percent.Value(), 10);
  EXPECT_EQ(s.units, ScaleUnits::kBits);
  EXPECT_EQ(s.stream, acquisition::StreamTransport::kNone);
  EXPECT_EQ(s.filter_length.Value(), 0);
  EXPECT_FALSE(s.dual_shown);
  EXPECT_FALSE(s.histogram);
  EXPECT_FALSE(s.resample);
  EXPECT_FALSE(s.analysis);
  EXPECT_EQ(s.udp_port.Value(), 38257);
}

TEST_F(WindowSettingsTest, EachKeysRule) {
  struct Case {
    std::string body;
    std::function<bool(const WindowSettings&)> holds;
    const char* what;
  };
  const std::vector<Case> cases = {
      {"STREAM=udp\r\n", [](auto& s) { return s.stream == acquisition::StreamTransport::kUdp; },
       "udp"},
      {"stream=Tcp\r\n", [](auto& s) { return s.stream == acquisition::StreamTransport::kTcp; },
       "Tcp"},
      {"STREAM=serial\r\n", [](auto& s) { return s.stream == acquisition::StreamTransport::kNone; },
       "other"},
      {"VSCALEUNITS=bits\r\n", [](auto& s) { return s.units == ScaleUnits::kPercent; }, "bits"},
      {"VSCALEUNITS=\r\n", [](auto& s) { return s.units == ScaleUnits::kPercent; }, "no units"},
      {"DUALCHANNEL=true\r\n", [](auto& s) { return s.dual_shown && !s.dual_checked; }, "true"},
      {"DUALCHANNEL=TRUE\r\n", [](auto& s) { return s.dual_shown && s.dual_checked; }, "TRUE"},
      {"DUALCHANNEL=\r\n", [](auto& s) { return !s.dual_shown && !s.dual_checked; }, "dual ''"},
      {"HISTOGRAM=FALSE\r\n", [](auto& s) { return s.histogram; }, "histogram FALSE"},
      {"RESAMPLE=true\r\n", [](auto& s) { return !s.resample; }, "resample true"},
      {"RESAMPLE=TRUE\r\n", [](auto& s) { return s.resample; }, "resample TRUE"},
      {"ANALYSIS=true\r\n", [](auto& s) { return !s.analysis; }, "analysis true"},
      {"ANALYSIS=TRUE\r\n", [](auto& s) { return s.analysis; }, "analysis TRUE"},
      {"UDPPORT=1\r\n", [](auto& s) { return s.udp_port.Value() == 1; }, "udp port 1"},
      {"udpport=65535\r\n", [](auto& s) { return s.udp_port.Value() == 65535; }, "65535"},
      {"FILTERLEN=7\r\nSAMPLES=3000\r\n",
       [](auto& s) { return s.filter_length.Value() == 7 && s.samples.Value() == 3000; }, "ints"},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.holds(Read(c.body))) << c.what;
}

TEST_F(WindowSettingsTest, ANonIntegerFailsOnlyWhereItIsUsed) {
  const WindowSettings s = Read("SAMPLES=abc\r\nVSCALE%=big\r\nVSCALE=300\r\n");
  EXPECT_EQ(s.scale_bits.Value(), 300);
  EXPECT_EQ(s.ip, "10.0.98.108");
  try {
    s.samples.Value();
    ADD_FAILURE() << "no error";
  } catch (const common::Error& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_THROW(s.scale_percent.Value(), common::Error);
  EXPECT_THROW(ReadUnitScale(path_, ScaleUnits::kPercent).Value(), common::Error);
}

TEST_F(WindowSettingsTest, AUdpPortOutsideItsRangeFailsWhereItIsUsed) {
  const std::pair<const char*, const char*> cases[] = {
      {"0", "'0' is not a port number from 1 to 65535"},
      {"65536", "'65536' is not a port number from 1 to 65535"},
      {"port", "'port' is not a valid integer value"},
  };
  for (const auto& [text, message] : cases) {
    const WindowSettings s = Read("UDPPORT=" + std::string(text) + "\r\n");
    EXPECT_EQ(s.samples.Value(), 50);
    try {
      s.udp_port.Value();
      ADD_FAILURE() << text << ": no error";
    } catch (const common::Error& e) {
      EXPECT_EQ(e.Message(), message);
    }
  }
}

TEST_F(WindowSettingsTest, AWrittenScaleIsWhatTheUnitReadsBack) {
  WriteWindowSetting(path_, kKeyScalePercent, "25");
  WriteWindowSetting(path_, kKeyScaleUnits, UnitsText(ScaleUnits::kPercent));
  EXPECT_EQ(ReadUnitScale(path_, ScaleUnits::kPercent).Value(), 25);
  EXPECT_EQ(ReadUnitScale(path_, ScaleUnits::kBits).Value(), 100);
  EXPECT_EQ(ReadWindowSettings(path_).units, ScaleUnits::kPercent);
}

}  // namespace
}  // namespace persistence
