#include "persistence/ini_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "common/error.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

namespace fs = std::filesystem;

struct FindCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

TEST(IniFindValue, ReadsValuesAsTheyStand) {
  const FindCase cases[] = {
      {"plain", "[SETTINGS]\r\nIP=10.0.0.1\r\n", "SETTINGS", "IP", "10.0.0.1"},
      {"key case", "[SETTINGS]\r\nip=1\r\n", "SETTINGS", "IP", "1"},
      {"section case", "[settings]\r\nIP=1\r\n", "SETTINGS", "IP", "1"},
      {"percent key", "[SETTINGS]\r\nVSCALE=100\r\nVSCALE%=7\r\n", "SETTINGS", "VSCALE%", "7"},
      {"percent key not the plain one", "[SETTINGS]\r\nVSCALE%=7\r\n", "SETTINGS", "VSCALE",
       std::nullopt},
      {"equals inside value", "[S]\nK=a=b=c\n", "S", "K", "a=b=c"},
      {"blanks around key and value", "[S]\n  K \t=  v w \t\n", "S", "K", "v w"},
      {"blanks around section", "  [ S ]  \nK=v\n", "S", "K", "v"},
      {"empty value", "[S]\nK=\n", "S", "K", ""},
      {"blank value", "[S]\nK=   \n", "S", "K", ""},
      {"quoted value", "[S]\nK=\" a \"\n", "S", "K", " a "},
      {"single quotes", "[S]\nK='x'\n", "S", "K", "x"},
      {"unmatched quotes kept", "[S]\nK=\"x'\n", "S", "K", "\"x'"},
      {"absent key", "[S]\nK=v\n", "S", "L", std::nullopt},
      {"absent section", "[T]\nK=v\n", "S", "K", std::nullopt},
      {"key of another section", "[T]\nK=1\n[S]\nL=2\n", "S", "K", std::nullopt},
      {"key before any section", "K=v\n[S]\n", "S", "K", std::nullopt},
      {"first section wins", "[S]\nA=1\n[T]\n[S]\nK=2\n", "S", "K", std::nullopt},
      {"first key wins", "[S]\nK=1\nk=2\n", "S", "K", "1"},
      {"comment is no key", "[S]\n;K=1\n#K=2\nK=3\n", "S", "K", "3"},
      {"line without equals", "[S]\nK\nK=4\n", "S", "K", "4"},
      {"last line without ending", "[S]\nK=5", "S", "K", "5"},
      {"last line with lone CR", "[S]\r\nK=6\r", "S", "K", "6"},
      {"empty text", "", "S", "K", std::nullopt},
      {"byte order mark before the first header", "\xEF\xBB\xBF[S]\r\nK=7\r\n", "S", "K", "7"},
      {"byte order mark before a first key", "\xEF\xBB\xBFK=7\r\n", "", "K", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindValue(c.content, c.section, c.key), c.expected) << c.name;
  }
}

struct ReplaceCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

TEST(IniReplaceValue, ChangesOnlyWhatItMust) {
  const ReplaceCase cases[] = {
      {"in place, comments and CR LF kept",
       "; K390 settings\r\n\r\n[SETTINGS]\r\n; address\r\nIP=1.1.1.1\r\nPORT=38253\r\n", "SETTINGS",
       "IP", "10.0.98.108",
       "; K390 settings\r\n\r\n[SETTINGS]\r\n; address\r\nIP=10.0.98.108\r\nPORT=38253\r\n"},
      {"key spelling and blanks before = kept", "[Settings]\nIp  =  old  \nport=1\n", "SETTINGS",
       "IP", "new", "[Settings]\nIp  =new\nport=1\n"},
      {"shorter value", "[S]\r\nK=123456\r\nL=1\r\n", "S", "K", "7", "[S]\r\nK=7\r\nL=1\r\n"},
      {"empty value", "[S]\r\nK=123\r\n", "S", "K", "", "[S]\r\nK=\r\n"},
      {"new key after the last key of the section", "[S]\r\nA=1\r\n\r\n[T]\r\nB=2\r\n", "S", "K",
       "v", "[S]\r\nA=1\r\nK=v\r\n\r\n[T]\r\nB=2\r\n"},
      {"new key in a section without keys", "[S]\n[T]\n", "S", "K", "v", "[S]\nK=v\n[T]\n"},
      {"new key at the end of a last line without ending", "[S]\r\nA=1", "S", "K", "v",
       "[S]\r\nA=1\r\nK=v\r\n"},
      {"new section after a file ending with a newline", "[T]\nB=2\n", "S", "K", "v",
       "[T]\nB=2\n[S]\nK=v\n"},
      {"new section after a file without final newline", "[T]\r\nB=2", "S", "K", "v",
       "[T]\r\nB=2\r\n[S]\r\nK=v\r\n"},
      {"new section in an empty file", "", "SETTINGS", "VSCALEUNITS", "BITS",
       "[SETTINGS]\r\nVSCALEUNITS=BITS\r\n"},
      {"repeated section: first one written", "[S]\nA=1\n[T]\n[S]\nK=2\n", "S", "K", "3",
       "[S]\nA=1\nK=3\n[T]\n[S]\nK=2\n"},
      {"value that reads differently is quoted", "[S]\nK=1\n", "S", "K", " x ", "[S]\nK=\" x \"\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[S]\nK=1\n", "S", "K", "2", "\xEF\xBB\xBF[S]\nK=2\n"},
      {"quoted value is quoted again", "[S]\nK=1\n", "S", "K", "\"q\"", "[S]\nK=\"\"q\"\"\n"},
  };
  for (const auto& c : cases) {
    const std::string after = ReplaceValue(c.before, c.section, c.key, c.value);
    EXPECT_EQ(after, c.after) << c.name;
    EXPECT_EQ(FindValue(after, c.section, c.key), std::string(c.value)) << c.name;
  }
}

TEST(IniCanStore, RefusesNamesAndValuesThatWouldNotReadBack) {
  EXPECT_TRUE(CanStore("SETTINGS", "VSCALE%", "a=b ; c"));
  EXPECT_FALSE(CanStore("SETTINGS", "IP", "1\r\n[X]"));
  EXPECT_FALSE(CanStore("SETTINGS", "", "v"));
  EXPECT_FALSE(CanStore("SETTINGS", "A=B", "v"));
  EXPECT_FALSE(CanStore("SETTINGS", ";K", "v"));
  EXPECT_FALSE(CanStore("SETTINGS", " K", "v"));
  EXPECT_FALSE(CanStore("SET]TINGS", "K", "v"));
}

// A fresh folder per test, removed afterwards.
class IniFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("k390_ini_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "K390cap.ini").string();
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }
  void Put(const std::string& content) const { WriteTextFile(path_, content); }
  std::string Get() const { return ReadTextFile(path_); }

  fs::path dir_;
  std::string path_;
};

TEST_F(IniFileTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", "10.0.98.108"), "10.0.98.108");
  EXPECT_FALSE(fs::exists(path_));
  WriteSetting(path_, "SETTINGS", "VSCALEUNITS", "BITS");
  EXPECT_EQ(Get(), "[SETTINGS]\r\nVSCALEUNITS=BITS\r\n");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "VSCALEUNITS", "x"), "BITS");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", "dflt"), "dflt");
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
}

TEST_F(IniFileTest, EmptyValueIsNotTheDefault) {
  Put("[SETTINGS]\r\nDUALCHANNEL=\r\n");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "DUALCHANNEL", "TRUE"), "");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "HISTOGRAM", "absent"), "absent");
}

TEST_F(IniFileTest, LongValuesAreCutAt2047Characters) {
  const std::string exact(2047, 'a');
  const std::string longer = std::string(2400, 'b') + std::string(100, 'c');
  WriteSetting(path_, "SETTINGS", "IP", exact);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), exact);
  WriteSetting(path_, "SETTINGS", "IP", longer);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), std::string(2047, 'b'));
  // The file holds the whole value; only the read is limited.
  EXPECT_EQ(FindValue(Get(), "SETTINGS", "IP"), longer);
}

TEST_F(IniFileTest, CutNeverSplitsACharacter) {
  std::string value;
  for (int i = 0; i < 2100; ++i) value += "\xC3\xA9";  // U+00E9, two bytes each
  WriteSetting(path_, "SETTINGS", "IP", value);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), value.substr(0, 2 * 2047));
}

TEST_F(IniFileTest, WriteKeepsEveryOtherByte) {
  const std::string before =
      "; hand-written\n\n[NET]\nhost = x\n[Settings]\n  Samples = 50   ; trailing\nstream=udp\n";
  Put(before);
  const fs::perms private_perms = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(path_, private_perms);
  WriteSetting(path_, "SETTINGS", "SAMPLES", "10");
  EXPECT_EQ(fs::status(path_).permissions(), private_perms);
  EXPECT_EQ(Get(), "; hand-written\n\n[NET]\nhost = x\n[Settings]\n  Samples =10\nstream=udp\n");
  WriteSetting(path_, "SETTINGS", "VSCALE%", "3");
  EXPECT_EQ(Get(),
            "; hand-written\n\n[NET]\nhost = x\n[Settings]\n  Samples =10\nstream=udp\n"
            "VSCALE%=3\n");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "VSCALE%", "10"), "3");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "VSCALE", "100"), "100");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "STREAM", ""), "udp");
}

TEST_F(IniFileTest, EveryCallSeesTheFileAsItIsNow) {
  Put("[SETTINGS]\r\nIP=a\r\n");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), "a");
  Put("[SETTINGS]\r\nIP=b\r\n");
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), "b");
  fs::remove(path_);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", "gone"), "gone");
}

TEST_F(IniFileTest, FailedWriteReportsThePathAndKeepsTheOldContent) {
  const std::string before = "[SETTINGS]\r\nIP=1.2.3.4\r\n";
  Put(before);
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(dir_.c_str(), W_OK) == 0) GTEST_SKIP() << "running with write access everywhere";
  try {
    WriteSetting(path_, "SETTINGS", "IP", "5.6.7.8");
    FAIL() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
  }
  EXPECT_EQ(Get(), before);
}

// The temporary file cannot be created (its name is taken by a folder): works also for a user
// who may write everywhere.
TEST_F(IniFileTest, WriteThatCannotCompleteKeepsTheOldContent) {
  const std::string before = "; kept\r\n[SETTINGS]\r\nIP=1.2.3.4\r\n";
  Put(before);
  fs::create_directory(path_ + ".tmp");
  try {
    WriteSetting(path_, "SETTINGS", "IP", "5.6.7.8");
    FAIL() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path_);
  }
  EXPECT_EQ(Get(), before);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), "1.2.3.4");
  EXPECT_TRUE(fs::is_directory(path_ + ".tmp"));  // not ours to remove
}

TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
  const std::string before = "[SETTINGS]\r\nIP=1.2.3.4\r\n";
  Put(before);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_THROW(WriteSetting(path_, "SETTINGS", "IP", "5.6.7.8"), common::Error);
  EXPECT_EQ(Get(), before);
  EXPECT_EQ(fs::status(path_).permissions(), fs::perms::owner_read | fs::perms::group_read);
}

TEST_F(IniFileTest, PathThatIsAFolderCannotBeWritten) {
  const std::string folder = (dir_ / "sub").string();
  fs::create_directory(folder);
  EXPECT_EQ(ReadSetting(folder, "SETTINGS", "IP", "d"), "d");
  try {
    WriteSetting(folder, "SETTINGS", "IP", "x");
    FAIL() << "no error";
  } catch (const common::Error& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + folder);
  }
  EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(IniFileTest, ValueWithLineBreakIsRefusedNotStored) {
  Put("[SETTINGS]\r\nIP=1\r\n");
  EXPECT_THROW(WriteSetting(path_, "SETTINGS", "IP", "2\r\n[X]\r\nY=3"), common::Error);
  EXPECT_EQ(Get(), "[SETTINGS]\r\nIP=1\r\n");
}

TEST_F(IniFileTest, TextThatIsNot8BitWithLfOrCrLfIsRefusedAndNeverWritten) {
  using namespace std::string_literals;
  const std::string utf16 = "UTF-16 text; save it as 8-bit text (UTF-8 or ASCII)";
  const std::string cr = "lines ended by CR alone; save it with LF or CR LF line ends";
  const struct {
    const char* name;
    std::string content;
    std::string problem;
  } cases[] = {
      {"UTF-16 LE with mark", "\xFF\xFE[\0S\0]\0\r\0\n\0I\0P\0=\0x\0"s, utf16},
      {"UTF-16 BE with mark", "\xFE\xFF\0[\0S\0]\0\r\0\n"s, utf16},
      {"UTF-16 LE without mark", "[\0S\0E\0T\0]\0"s, utf16},
      {"UTF-16 BE without mark", "\0[\0S\0E\0T\0]"s, utf16},
      {"CR-only line ends", "[SETTINGS]\rIP=1.2.3.4\rSAMPLES=70\r", cr},
      {"one lone CR among CR LF", "[SETTINGS]\r\nIP=1.2.3.4\rPORT=1\r\n", cr},
  };
  for (const auto& c : cases) {
    Put(c.content);
    const std::string expected = "Cannot read \"" + path_ + "\": the settings file " +
                                 (c.problem == utf16 ? "is " : "has ") + c.problem;
    for (const bool write : {false, true}) {
      try {
        if (write) {
          WriteSetting(path_, "SETTINGS", "VSCALEUNITS", "BITS");
        } else {
          ReadSetting(path_, "SETTINGS", "IP", "10.0.98.108");
        }
        ADD_FAILURE() << c.name << (write ? ": written" : ": read");
      } catch (const common::Error& e) {
        EXPECT_EQ(e.Message(), expected) << c.name;
      }
    }
    EXPECT_EQ(Get(), c.content) << c.name;
  }
  // What stays readable: a last CR cut from its LF, and a NUL inside a value, read whole.
  Put("[SETTINGS]\r\nSAMPLES=7\0"
      "7\r\nIP=x\r"s);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "SAMPLES", ""),
            "7\0"
            "7"s);
  EXPECT_EQ(ReadSetting(path_, "SETTINGS", "IP", ""), "x");
}

}  // namespace
}  // namespace persistence
