// Runs the built k390tool on files written to a temporary folder and checks what it prints and
// its exit status, as the programs that call it see them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tool_process.h"

namespace {

namespace fs = std::filesystem;

using tool_test::Outcome;
using tool_test::Slurp;

class K390toolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("k390tool_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes a file into the test folder and returns its path.
  std::string Put(const std::string& name, const std::string& content) const {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  // Runs the tool with the given arguments (each quoted for the shell) in the test folder.
  Outcome Run(const std::vector<std::string>& args) const {
    std::string command = "cd '" + dir_.string() + "' && '" K390TOOL_PATH "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " >'" + (dir_ / "stdout").string() + "' 2>'" + (dir_ / "stderr").string() + "'";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = Slurp(dir_ / "stdout");
    outcome.err = Slurp(dir_ / "stderr");
    return outcome;
  }

  fs::path dir_;
};

std::string IntervalFile(const std::vector<std::string>& values) {
  std::string text = ";Sample,TDelta(x25ns)\r\n";
  for (size_t i = 0; i < values.size(); ++i) {
    text += std::to_string(i) + "," + values[i] + "\r\n";
  }
  return text;
}

// A single-channel reply whose header announces 3000 records (BB8) and holds these stamps.
std::string ShortReply(const std::vector<uint64_t>& stamps) {
  std::string text = "<K390><SAMPLES>BB8,0</SAMPLES>\r\n";
  char record[64];
  for (size_t i = 0; i < stamps.size(); ++i) {
    std::snprintf(record, sizeof record, "%zX,%llX,0\r\n", i,
                  static_cast<unsigned long long>(stamps[i]));
    text += record;
  }
  return text + "</K390>";
}

const char kWorkedExampleFigures[] =
    "Esampavg=40000\n"
    "Epkpos=+4\n"
    "Epkneg=-4\n"
    "Ejitpp=8\n"
    "Ejitpp_pct=0.0200\n"
    "Ejitpp_max=0.0200\n"
    "Ejitrms=6\n"
    "Ejitrms_pct=0.0141\n"
    "Eint1=0.001000000000\n"
    "Efreq1=1000.0000\n"
    "Eint2=0.000000000000\n"
    "Efreq2=0.0000\n";

TEST_F(K390toolTest, SingleFilesGiveTheirFiguresOrTheReasonForNone) {
  const struct {
    const char* name;
    std::string content;
    std::string expected_after_file_line;
  } cases[] = {
      {"worked example", IntervalFile({"40000", "40004", "39996", "40000"}), kWorkedExampleFigures},
      {"tie rounds to even, deviations truncate", IntervalFile({"10", "11"}),
       "Esampavg=10\nEpkpos=0\nEpkneg=0\nEjitpp=0\nEjitpp_pct=0.0000\nEjitpp_max=0.0000\n"
       "Ejitrms=0\nEjitrms_pct=0.0000\nEint1=0.000000262500\nEfreq1=3809523.8095\n"
       "Eint2=0.000000000000\nEfreq2=0.0000\n"},
      {"frequency file turned into ticks",
       ";Sample,Frequency(Hz)\r\n0,1000\r\n1,999.900009999\r\n2,1000.100010001\r\n3,1000\r\n",
       kWorkedExampleFigures},
      {"lines without sample numbers", ";Sample,TDelta(x25ns)\r\n40000\r\n40004\r\n39996\r\n40000",
       kWorkedExampleFigures},
      {"dual-channel reply",
       "<K390><SAMPLES>3,3</SAMPLES>\r\n0,FFFFFFF0,0\r\n1,9C34,13880\r\n2,13870,27100\r\n</K390>",
       "Esampavg=40000\nEpkpos=+4\nEpkneg=-4\nEjitpp=8\nEjitpp_pct=0.0200\n"
       "Ejitpp_max=0.0200\nEjitrms=8\nEjitrms_pct=0.0200\nEint1=0.001000000000\n"
       "Efreq1=1000.0000\nEint2=0.002000000000\nEfreq2=500.0000\n"},
      {"CR-only line ends", ";Sample,TDelta(x25ns)\r0,40000\r1,40004\r2,39996\r3,40000\r",
       kWorkedExampleFigures},
      {"header only", IntervalFile({}), "NoFigures=no records\n"},
      {"header with a trailing space is no data file",
       ";Sample,TDelta(x25ns) \r\n0,40000\r\n1,40000\r\n", "NoFigures=reply ended early\n"},
      {"reply with both counts 0", "<K390><SAMPLES>0,0</SAMPLES>\r\n</K390>",
       "NoFigures=reply ended early\n"},
      {"reply with a single record", "<K390><SAMPLES>1,0</SAMPLES>\r\n0,10,0\r\n</K390>",
       "NoFigures=too few records\n"},
      // 10 of the 3000 records announced: the figures of the 9 intervals they make (worked
      // out apart from the tool: deviations 0 +4 -4 +10 -10 0 -10 +10 0 around 40000).
      {"reply cut short",
       ShortReply(
           {0, 0x9C40, 0x13884, 0x1D4C0, 0x2710A, 0x30D40, 0x3A980, 0x445B6, 0x4E200, 0x57E40}),
       "Warning=reply ended early: 10 of 3000 records\nEsampavg=40000\nEpkpos=+10\n"
       "Epkneg=-10\nEjitpp=20\nEjitpp_pct=0.0500\nEjitpp_max=0.0500\nEjitrms=14\n"
       "Ejitrms_pct=0.0346\nEint1=0.001000000000\nEfreq1=1000.0000\n"
       "Eint2=0.000000000000\nEfreq2=0.0000\n"},
      {"average not above 0", IntervalFile({"-5", "3"}), "NoFigures=average not above 0\n"},
  };
  for (const auto& c : cases) {
    const std::string path = Put("capture.JIT", c.content);
    const Outcome got = Run({"figures", path});
    EXPECT_EQ(got.status, 0) << c.name << "\n" << got.err;
    EXPECT_EQ(got.out, "File=" + path + "\n" + c.expected_after_file_line) << c.name;
    EXPECT_EQ(got.err, "") << c.name;
  }
}

TEST_F(K390toolTest, FailuresPrintTheWindowsMessageAndExit2) {
  const struct {
    const char* name;
    std::string content;
    std::string expected_err;
  } cases[] = {
      {"list value that is no integer", IntervalFile({"40000", "4O004"}),
       "'4O004' is not a valid integer value.\n"},
      {"empty line inside a list", IntervalFile({"40000"}) + "\r\n2,40004\r\n",
       "'' is not a valid integer value.\n"},
      {"NUL inside a list value",
       IntervalFile({std::string("400\0"
                                 "00",
                                 6)}),
       "'400\\x0000' is not a valid integer value.\n"},
      {"list value beyond 32 bits", IntervalFile({"2147483648"}),
       "'2147483648' is not a valid integer value.\n"},
      {"reply field that is no hex", "<K390><SAMPLES>2,0</SAMPLES>\r\n0,10,0\r\n1,2G,0\r\n</K390>",
       "Reply line 3, stamp 1: '$2G' is not a valid integer value.\n"},
      {"frequency of 0", ";Sample,Frequency(Hz)\r\n0,1000\r\n1,0\r\n",
       "Floating point division by zero.\n"},
      {"frequency that is no number", ";Sample,Frequency(Hz)\r\n0,1k\r\n",
       "'1k' is not a valid floating point value.\n"},
  };
  for (const auto& c : cases) {
    const std::string path = Put("bad.JIT", c.content);
    const Outcome got = Run({"figures", path});
    EXPECT_EQ(got.status, 2) << c.name;
    EXPECT_EQ(got.err, c.expected_err) << c.name;
    EXPECT_EQ(got.out, "File=" + path + "\n") << c.name;
  }
  const std::string missing = (dir_ / "missing.JIT").string();
  const Outcome got = Run({"figures", missing});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err, "Cannot open \"" + missing + "\": No such file or directory.\n");
}

TEST_F(K390toolTest, ErrorStopsTheRunAtTheFailingFile) {
  const std::string good = Put("good.JIT", IntervalFile({"40000", "40004", "39996", "40000"}));
  const std::string bad = Put("bad.JIT", IntervalFile({"x"}));
  const Outcome got = Run({"figures", good, bad, good});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.out, "File=" + good + "\n" + kWorkedExampleFigures + "File=" + bad + "\n");
  EXPECT_EQ(got.err, "'x' is not a valid integer value.\n");
}

TEST_F(K390toolTest, HeldMaximaCarryOverFromFileToFile) {
  // P-P 12 ticks of 40000 (0.0300 %), then 8 ticks (0.0200 %): the held maxima keep the first.
  const std::string wide = Put("wide.JIT", IntervalFile({"40006", "39994"}));
  const std::string narrow = Put("narrow.JIT", IntervalFile({"40000", "40004", "39996", "40000"}));
  const Outcome got = Run({"figures", "--flight-ms", "3", wide, narrow});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "File=" + wide +
                         "\nEsampavg=40000\nEpkpos=+6\nEpkneg=-6\nEjitpp=12\nEjitpp_pct=0.0300\n"
                         "Ejitpp_max=0.0300\nEjitrms=12\nEjitrms_pct=0.0300\nEint1=0.001000000000\n"
                         "Efreq1=1000.0000\nEint2=0.000000000000\nEfreq2=0.0000\n"
                         "Lpcycles=(3 pulses)\nEprove_err=0.0100\nEpqf=0.0100\n"
                         "File=" +
                         narrow +
                         "\nEsampavg=40000\nEpkpos=+4\nEpkneg=-4\nEjitpp=8\nEjitpp_pct=0.0200\n"
                         "Ejitpp_max=0.0300\nEjitrms=6\nEjitrms_pct=0.0141\nEint1=0.001000000000\n"
                         "Efreq1=1000.0000\nEint2=0.000000000000\nEfreq2=0.0000\n"
                         "Lpcycles=(3 pulses)\nEprove_err=0.0067\nEpqf=0.0100\n");
}

TEST_F(K390toolTest, FlightTimeFiguresOnlyWhenThereArePulses) {
  const std::string path = Put("w.JIT", IntervalFile({"40000", "40004", "39996", "40000"}));
  // 0 ms gives no pulse count, so the flight-time lines stay away.
  Outcome got = Run({"figures", "--flight-ms", "0", path});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, "File=" + path + "\n" + kWorkedExampleFigures);
  // Without the option the same.
  got = Run({"figures", path});
  EXPECT_EQ(got.out, "File=" + path + "\n" + kWorkedExampleFigures);
  // A flight time beyond the 32-bit range fails its conversion as the window's box would.
  got = Run({"figures", "--flight-ms", "99999999999", path});
  EXPECT_EQ(got.status, 2);
  EXPECT_EQ(got.err, "'99999999999' is not a valid integer value.\n");
}

TEST_F(K390toolTest, ArgumentsThatDoNotFitAreRefused) {
  const std::string path = Put("w.JIT", IntervalFile({"40000"}));
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"figures"},
      {"figures", "--flight-ms"},
      {"figures", "--flight-ms", "1.5", path},
      {"figures", "--flight-ms", "-1", path},
      {"figures", "--bogus", path},
      {"plot", path},
      {"resample", "a", "b", "c"},
  };
  for (const auto& args : refused) {
    const Outcome got = Run(args);
    EXPECT_EQ(got.status, 2) << testing::PrintToString(args);
    EXPECT_EQ(got.out, "") << testing::PrintToString(args);
    EXPECT_NE(got.err.find("Usage:"), std::string::npos) << testing::PrintToString(args);
  }
  const Outcome help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("k390tool figures [--flight-ms MS] FILE..."), std::string::npos);
  EXPECT_NE(help.out.find("k390tool resample [STREAM_FILE [OUT_FILE]]"), std::string::npos);
}

TEST_F(K390toolTest, ResampleUsesTheDefaultNamesInTheCurrentFolder) {
  std::string log;
  for (int i = 0; i < 12; ++i) log += "40000\r\n";
  Put("stream.dat", log);
  const Outcome got = Run({"resample"});
  ASSERT_EQ(got.status, 0) << got.err;
  const std::string resampled = Slurp(dir_ / "resampled.dat");
  ASSERT_FALSE(resampled.empty());
  EXPECT_EQ(resampled.substr(0, 13), "40000,40000\r\n");
}

TEST_F(K390toolTest, ResampleFailureLeavesTheOutputUntouched) {
  const std::string out = Put("out.dat", "old");
  const Outcome got = Run({"resample", (dir_ / "none.dat").string(), out});
  EXPECT_EQ(got.status, 2);
  EXPECT_NE(got.err.find("none.dat"), std::string::npos);
  EXPECT_EQ(Slurp(out), "old");
}

TEST_F(K390toolTest, ResampleNeverEmptiesItsInputAndReportsAFolder) {
  std::string log;
  for (int i = 0; i < 12; ++i) log += "40000\r\n";
  const std::string input = Put("s.dat", log);
  const std::string kept = Put("resampled.dat", "kept");
  fs::create_directory(dir_ / "folder");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"resample", "s.dat", "s.dat"},
       "Cannot create \"s.dat\": it is the stream log being read.\n"},
      {{"resample", input, "./s.dat"},
       "Cannot create \"./s.dat\": it is the stream log being read.\n"},
      {{"resample", "folder"}, "Cannot read \"folder\": Is a directory.\n"},
      {{"resample", "s.dat", "folder"}, "Cannot create \"folder\": Is a directory.\n"},
  };
  for (const auto& c : cases) {
    const Outcome got = Run(c.args);
    EXPECT_EQ(got.status, 2) << testing::PrintToString(c.args);
    EXPECT_EQ(got.err, c.err) << testing::PrintToString(c.args);
    EXPECT_EQ(Slurp(input), log) << testing::PrintToString(c.args);
    EXPECT_EQ(Slurp(kept), "kept") << testing::PrintToString(c.args);
  }
}

}  // namespace

namespace {

// The 9 frequency values of the NBS14 small set (NIST Special Publication 1065, section 12),
// and the same set as pulses: 40000 ticks plus each value.
const char* const kNbs10[] = {"892", "809", "823", "798", "671", "644", "883", "903", "677"};

std::string Column(const std::string& csv_line, int column) {
  size_t from = 0;
  for (int i = 0; i < column; ++i) from = csv_line.find(',', from) + 1;
  return csv_line.substr(from, csv_line.find(',', from) - from);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t from = 0; from < text.size();) {
    const size_t end = text.find('\n', from);
    lines.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return lines;
}

}  // namespace

// An output is never an input of the same command, whatever name or link reaches it; both
// files stay as they were. An output that exists and is another file is replaced whole.
TEST_F(K390toolTest, OutputsThatAreInputsAreRefusedAndLeftAsTheyWere) {
  std::string log = "123456\r\n";
  for (int i = 0; i < 12; ++i) log += "40000\r\n";
  const std::string input = Put("s.dat", log);
  fs::create_symlink("s.dat", dir_ / "link.dat");
  fs::create_hard_link(input, dir_ / "hard.dat");
  fs::create_hard_link(input, dir_ / "s.tmp");
  const std::string other = Put("other.txt", "old");
  // The timing commands' messages begin with the tool's name; resample's end as the window's.
  const std::string taken = "k390tool: Cannot create \"";
  const struct {
    std::vector<std::string> args;
    std::string err;  // empty: done, status 0
  } cases[] = {
      {{"phase", "--stream", "s.dat", "s.dat"},
       taken + "s.dat\": it is the pulse data being read\n"},
      {{"phase", "--stream", "s.dat", "link.dat"},
       taken + "link.dat\": it is the pulse data being read\n"},
      {{"phase", "--stream", "link.dat", input},
       taken + input + "\": it is the pulse data being read\n"},
      {{"phase", "--stream", "s.dat", "hard.dat"},
       taken + "hard.dat\": it is the pulse data being read\n"},
      {{"phase", "--stream", "s.dat", "s"},
       taken + "s\": its temporary file \"s.tmp\" is the pulse data being read\n"},
      {{"resample", "link.dat", "s.dat"},
       "Cannot create \"s.dat\": it is the stream log being read.\n"},
      {{"resample", "s.dat", "s"},
       "Cannot create \"s\": its temporary file \"s.tmp\" is the stream log being read.\n"},
      {{"phase", "--stream", "s.dat", "other.txt"}, ""},
  };
  for (const auto& c : cases) {
    const Outcome got = Run(c.args);
    EXPECT_EQ(got.status, c.err.empty() ? 0 : 2) << testing::PrintToString(c.args);
    EXPECT_EQ(got.err, c.err) << testing::PrintToString(c.args);
    EXPECT_EQ(Slurp(input), log) << testing::PrintToString(c.args);
  }
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.dat"));
  EXPECT_EQ(Lines(Slurp(other)).size(), 13u);  // one phase point per pulse, replaced whole
  EXPECT_FALSE(fs::exists(dir_ / "other.txt.tmp"));
}

TEST_F(K390toolTest, StabilityRowsFromFrequencyPhaseAndPulseInput) {
  std::string freq = "# NBS14, 9 values\n", pulses = ";Sample,TDelta(x25ns)\r";
  std::vector<std::string> values;
  for (const char* y : kNbs10) {
    freq += std::string(y) + "\n";
    values.push_back(std::to_string(40000 + std::stoi(y)));
  }
  for (size_t i = 0; i < values.size(); ++i) pulses += std::to_string(i) + "," + values[i] + "\r";
  const Outcome from_freq = Run({"stability", "--freq", "--taus", "1,2", Put("f.txt", freq)});
  ASSERT_EQ(from_freq.status, 0) << from_freq.err;
  const std::vector<std::string> rows = Lines(from_freq.out);
  ASSERT_EQ(rows.size(), 1u + 8 * 2);
  EXPECT_EQ(rows[0], "deviation,af,tau_s,n,alpha,value,min,max");
  // Published: ADEV 91.22945, 115.8082; MDEV at m = 2 74.78849; TDEV at m = 2 86.35831.
  const auto seven_digits = [](const std::string& text) {
    char out[32];
    std::snprintf(out, sizeof out, "%.7g", std::stod(text));
    return std::string(out);
  };
  EXPECT_EQ(rows[1].substr(0, 11), "adev,1,1,8,");
  EXPECT_EQ(seven_digits(Column(rows[1], 5)), "91.22945");
  EXPECT_EQ(seven_digits(Column(rows[2], 5)), "115.8082");
  EXPECT_EQ(seven_digits(Column(rows[6], 5)), "74.78849");
  EXPECT_EQ(seven_digits(Column(rows[8], 5)), "86.35831");

  // The phase of the same set gives the same rows; a pulse file gives the same n and alpha.
  std::string phase = "0\n";
  double sum = 0;
  for (const char* y : kNbs10) {
    sum += std::stod(y);
    char text[40];
    std::snprintf(text, sizeof text, "%.17g\r\n", sum);
    phase += text;
  }
  const Outcome from_phase = Run({"stability", "--phase", "--taus", "1,2", Put("x.txt", phase)});
  EXPECT_EQ(from_phase.out, from_freq.out);
  const Outcome from_pulses = Run({"stability", "--taus", "1,2", Put("p.JIT", pulses)});
  ASSERT_EQ(from_pulses.status, 0) << from_pulses.err;
  const std::vector<std::string> pulse_rows = Lines(from_pulses.out);
  ASSERT_EQ(pulse_rows.size(), rows.size());
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(pulse_rows[i].substr(0, pulse_rows[i].find(',', 5)),
              rows[i].substr(0, rows[i].find(',', 5)));
    for (int column : {3, 4, 6})
      EXPECT_EQ(Column(pulse_rows[i], column).empty(), Column(rows[i], column).empty()) << rows[i];
  }
}

// A stream log as the window writes it (CR LF, a first line that is no interval) of a 1 kHz
// train, stamps 40000 k plus 1 tick at every third k, with the pulses k = 5, 10 .. 35 and 40
// left out, a spurious pulse inside the interval ending at k = 13 and a short last interval.
TEST_F(K390toolTest, JitterAndPhaseCountMissingAndExtraPulsesOfAStreamLog) {
  const auto stamp = [](int k) { return 40000 * k + (k % 3 == 0 ? 1 : 0); };
  std::string log = "123456\r\n";
  int previous = 0;
  for (int k = 1; k <= 40; ++k) {
    if (k % 5 == 0) continue;
    const int delta = stamp(k) - stamp(previous);
    log += k == 13 ? "15000\r\n" + std::to_string(delta - 15000) : std::to_string(delta);
    log += "\r\n";
    previous = k;
  }
  log += "900\r\n";
  const std::string path = Put("stream.dat", log);
  const Outcome jitter = Run({"jitter", "--stream", path});
  ASSERT_EQ(jitter.status, 0) << jitter.err;
  const std::vector<std::string> lines = Lines(jitter.out);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "Intervals=32");
  EXPECT_EQ(lines[1], "MissingPulses=7");
  EXPECT_EQ(lines[2], "ExtraPulses=2");
  EXPECT_EQ(lines[3], "NominalInterval=40000");
  EXPECT_EQ(lines[4], "Tau0=1.000000e-03");
  EXPECT_EQ(lines[6], "PeriodJitterPP=5.000000e-08");  // 39999 .. 40001 ticks
  EXPECT_EQ(lines[7], "CycleToCycleMax=5.000000e-08");

  const Outcome phase = Run({"phase", "--stream", path, "phase.txt"});
  ASSERT_EQ(phase.status, 0) << phase.err;
  EXPECT_EQ(phase.out, "");
  const std::vector<std::string> points = Lines(Slurp(dir_ / "phase.txt"));
  ASSERT_EQ(points.size(), 40u);  // indices 0 .. 39
  for (size_t k = 0; k < points.size(); ++k) {
    EXPECT_EQ(points[k] == "NaN", k % 5 == 0 && k > 0) << "index " << k << ": " << points[k];
  }
}

TEST_F(K390toolTest, TimingCommandsRefuseBadInputWithExit2AndNothingOnStdout) {
  const std::string good = Put("good.dat", "0\n40000\n40001\n39999\n40000\n");
  const std::string missing = (dir_ / "none.dat").string();
  const struct {
    std::vector<std::string> args;
    std::string err_holds;
  } cases[] = {
      {{"jitter", "--stream", Put("two.dat", "0\r40000\r40001\r")}, "two.dat: 2 intervals"},
      {{"stability", "--stream", Put("bad.dat", "0\n40000\n4000x\n")},
       "bad.dat: line 3: '4000x' is not a valid integer value"},
      {{"stability", "--freq", Put("badf.txt", "1\n# note\n2\n3e\n4\n")},
       "badf.txt: line 4: '3e' is not a valid floating point value"},
      {{"phase", Put("f0.JIT", ";Sample,Frequency(Hz)\r\n0,1000\r\n1,1000\r\n2,0\r\n")},
       "f0.JIT: line 4: Floating point division by zero"},
      {{"jitter", missing}, "Cannot open \"" + missing + "\": No such file or directory"},
      {{"phase", Put("huge.JIT", IntervalFile({"4611686018427387904", "1", "1"}))},
       "huge.JIT: the intervals add up to more than 2^62 ticks"},
      {{"stability", "--stream", Put("three.dat", "0\n40000\n40001\n39999\n")},
       "three.dat: 3 intervals give no stability row"},
      {{"stability", "--taus", "5", "--freq", Put("f4.txt", "1\n2\n3\n4\n")},
       "f4.txt: 4 values give no stability row"},
      {{"stability", "--taus", "1,0", "--stream", good}, "--taus: '1,0'"},
      {{"stability", "--tau0", "-1", "--phase", good}, "--tau0 -1: not a finite number"},
      {{"stability", "--tau0", "nan", "--phase", good}, "--tau0 nan: not a finite number"},
      {{"stability", "--tau0", "0", "--phase", good}, "--tau0 0: not a finite number"},
      {{"stability", "--tau0", "1e999", "--freq", good}, "--tau0 1e999: not a finite number"},
      {{"stability", "--tau0", "2", "--stream", good}, "--tau0 2"},
      {{"stability", "--phase", "--freq", good}, "--phase excludes --freq"},
      {{"phase", "--stream", good, (dir_ / "none" / "x.txt").string()},
       "Cannot create \"" + (dir_ / "none" / "x.txt").string() + "\""},
      {{"jitter", "--taus", "all", good}, "--taus"},
  };
  for (const auto& c : cases) {
    const Outcome got = Run(c.args);
    EXPECT_EQ(got.status, 2) << testing::PrintToString(c.args);
    EXPECT_EQ(got.out, "") << testing::PrintToString(c.args);
    // A value the command cannot take gets one line; an unknown option the usage.
    if (c.err_holds.rfind("--tau0 ", 0) == 0 || c.err_holds.rfind("--taus: ", 0) == 0) {
      EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), 1) << got.err;
    }
    EXPECT_NE(got.err.find(c.err_holds), std::string::npos)
        << testing::PrintToString(c.args) << "\n"
        << got.err;
  }
  const Outcome help = Run({"stability", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("deviation,af,tau_s,n,alpha,value,min,max"), std::string::npos);
}

// A 1 MHz stream log with one dropout of 2^20 + 5 pulses is indexed whole, and phase writes a
// NaN for each missing index; a train of 4-tick periods says on a line of its own that its
// indexing is not sound, and keeps exit status 0.
TEST_F(K390toolTest, LongGapsAreIndexedAndDoubtsGoOnALineOfTheirOwn) {
  constexpr int64_t kMissing = (int64_t{1} << 20) + 5;
  std::string log = "7\r\n";
  for (int k = 0; k < 200'000; ++k) {
    log += k == 100'000 ? std::to_string(40 * (kMissing + 1)) : std::to_string(39 + k % 3);
    log += "\r\n";
  }
  const std::string path = Put("dropout.dat", log);
  const Outcome jitter = Run({"jitter", "--stream", path});
  ASSERT_EQ(jitter.status, 0) << jitter.err;
  const std::vector<std::string> lines = Lines(jitter.out);
  ASSERT_EQ(lines.size(), 11u) << jitter.out;
  EXPECT_EQ(lines[1], "MissingPulses=" + std::to_string(kMissing));
  // 66667 intervals of 39 and 66666 each of 40 and 41 (one 40 gave way to the gap):
  // 40 - 1 / 199999 ticks.
  EXPECT_EQ(lines[3], "NominalInterval=39.999995");
  const Outcome phase = Run({"phase", "--stream", path, "phase.txt"});
  ASSERT_EQ(phase.status, 0) << phase.err;
  const std::vector<std::string> points = Lines(Slurp(dir_ / "phase.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "phase.txt.tmp"));
  EXPECT_EQ(points.size(), static_cast<size_t>(200'001 + kMissing));
  EXPECT_EQ(std::count(points.begin(), points.end(), "NaN"), kMissing);

  const std::string fast = Put("fast.dat", "0\n4\n4\n4\n4\n4\n4\n4\n4\n");
  const Outcome doubt = Run({"jitter", "--stream", fast});
  EXPECT_EQ(doubt.status, 0);
  EXPECT_EQ(Lines(doubt.out).back(), "Ambiguous=the period, 4 ticks, is under 8");
  const Outcome table = Run({"stability", "--stream", fast});
  EXPECT_EQ(table.status, 0);
  EXPECT_EQ(table.out.find("Ambiguous"), std::string::npos);
  EXPECT_EQ(Lines(table.out)[0], "deviation,af,tau_s,n,alpha,value,min,max");
  EXPECT_EQ(table.err, "Ambiguous=the period, 4 ticks, is under 8\n");
}

// The stream of k390sim with every 7th pulse left out, taken over TCP on 127.0.0.1 and logged
// as the window logs it (the delta of each word from the one before, the first from 0): the
// jitter command counts exactly the pulses the simulator left out.
TEST_F(K390toolTest, MissingPulsesOfAK390simDropEveryStreamAreCountedExactly) {
  constexpr int kWords = 3000;
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t sim = ::fork();
  ASSERT_GE(sim, 0);
  if (sim == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execl(K390SIM_PATH, K390SIM_PATH, "--port", "0", "--freq", "5000", "--drop-every", "7",
            "--words", std::to_string(kWords).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string banner;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') banner += c;
  const int port = std::stoi(banner.substr(banner.rfind(':') + 1));

  const int link = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(link, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << banner;
  const std::string command = "<K390><STREAM>2</STREAM></K390>";
  ASSERT_EQ(::send(link, command.data(), command.size(), 0), static_cast<ssize_t>(command.size()));
  std::string received;
  size_t words_from = std::string::npos;
  char buffer[4096];
  while (words_from == std::string::npos || received.size() < words_from + 4 * kWords) {
    const ssize_t got = ::recv(link, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
    const size_t end = received.find("</K390>");
    if (end != std::string::npos) words_from = end + 7;
  }
  ::close(link);
  ::kill(sim, SIGTERM);
  ::waitpid(sim, nullptr, 0);
  ::close(out[0]);
  ASSERT_NE(words_from, std::string::npos);
  ASSERT_GE(received.size(), words_from + 4 * kWords);

  std::string log;
  uint32_t previous = 0;
  for (int i = 0; i < kWords; ++i) {
    uint32_t word = 0;
    for (int b = 3; b >= 0; --b) {
      word = (word << 8) | static_cast<unsigned char>(received[words_from + 4 * i + b]);
    }
    log += std::to_string(static_cast<uint32_t>(word - previous)) + "\r\n";
    previous = word;
  }
  // Word i (from 1) is the pulse p(i) = i + floor((i - 1) / 6); the pulses left out between the
  // first and the last word are the multiples of 7 below p(kWords).
  const int last_pulse = kWords + (kWords - 1) / 6;
  const Outcome got = Run({"jitter", "--stream", Put("stream.dat", log)});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_NE(got.out.find("Intervals=" + std::to_string(kWords - 1) + "\n"), std::string::npos)
      << got.out;
  EXPECT_NE(got.out.find("MissingPulses=" + std::to_string(last_pulse / 7) + "\n"),
            std::string::npos)
      << got.out;
  EXPECT_NE(got.out.find("ExtraPulses=0\n"), std::string::npos) << got.out;
}

// ---------------------------------------------------------------------------------------------
// Two channels, on the dual replies of tests/data/dual (make_replies.py writes them from exact
// edges; the expected figures below follow from those edges).

namespace {

std::string DualReply(const std::string& name) { return std::string(K390_DUAL_DATA) + "/" + name; }

// "key=value" lines in order; "error=" lines kept apart.
struct KeyLines {
  std::vector<std::pair<std::string, std::string>> values;
  std::vector<std::string> errors;
  std::string At(const std::string& key) const {
    for (const auto& [k, v] : values) {
      if (k == key) return v;
    }
    return "<none>";
  }
};

KeyLines ParseKeyLines(const std::string& text) {
  KeyLines lines;
  size_t from = 0;
  for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', from)) {
    const std::string line = text.substr(from, end - from);
    from = end + 1;
    const size_t eq = line.find('=');
    if (line.rfind("error=", 0) == 0) {
      lines.errors.push_back(line.substr(6));
    } else if (eq != std::string::npos) {
      lines.values.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
  }
  return lines;
}

TEST_F(K390toolTest, ChannelsFindTheFaultsAtTheirRecordsAndTheRatioAndDrift) {
  constexpr double kTick = 25e-9;
  const double p = 40000.37;
  const struct {
    const char* file;
    double ratio, phase_deg, drift_deg_per_s;
    int paired, unpaired1, unpaired2;
    std::vector<std::pair<std::string, double>> errors;  // "kind,record" and its time in ticks
  } cases[] = {
      // Channel 1's first edge, at tick 1000, is the origin of the times.
      {"quadrature_faults.reply",
       98.0 / 100,
       90,
       0,
       99,
       2,
       0,
       {{"missing_ch2,40", 40.25 * p}, {"extra_ch1,61", 60.4 * p}}},
      // The drift is 360 (P2 - P1) / (P1 P2 25 ns); the mean lies halfway up the ramp.
      {"phase_ramp.reply",
       40000.0 / 40004,
       90 + 360 * 4 * 199 / 40000.0 / 2,
       360 * 4 / (40000 * 40004 * kTick),
       200,
       0,
       0,
       {}},
      {"half_rate.reply", 0.5, 90, 0, 100, 0, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const Outcome got = Run({"channels", DualReply(c.file)});
    ASSERT_EQ(got.status, 0) << got.err;
    const KeyLines lines = ParseKeyLines(got.out);
    EXPECT_NEAR(std::stod(lines.At("ratio")), c.ratio, 1e-6);
    EXPECT_EQ(lines.At("paired"), std::to_string(c.paired));
    EXPECT_NEAR(std::stod(lines.At("phase_mean_deg")), c.phase_deg, 0.01);
    EXPECT_NEAR(std::stod(lines.At("phase_drift_deg_per_s")), c.drift_deg_per_s, 0.01);
    EXPECT_EQ(lines.At("unpaired_ch1"), std::to_string(c.unpaired1));
    EXPECT_EQ(lines.At("unpaired_ch2"), std::to_string(c.unpaired2));
    EXPECT_EQ(lines.At("sequence_errors"), "0");
    EXPECT_EQ(lines.At("direction"), "forward");
    ASSERT_EQ(lines.errors.size(), c.errors.size()) << got.out;
    for (size_t i = 0; i < c.errors.size(); ++i) {
      const size_t comma = lines.errors[i].rfind(',');
      EXPECT_EQ(lines.errors[i].substr(0, comma), c.errors[i].first);
      EXPECT_NEAR(std::stod(lines.errors[i].substr(comma + 1)), c.errors[i].second * kTick, kTick);
    }
    std::vector<std::string> keys;
    for (const auto& kv : lines.values) keys.push_back(kv.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"ratio", "paired", "phase_mean_deg", "phase_pp_deg",
                                              "phase_rms_deg", "phase_drift_deg_per_s",
                                              "difference_mean_s", "unpaired_ch1", "unpaired_ch2",
                                              "sequence_errors", "direction"}));
  }
}

// Channel 2 analysed like channel 1, the difference of the two as a measurement, limits held
// against it, and the errors of input that has no channel 2.
TEST_F(K390toolTest, ChannelTwoTheDifferenceAndItsLimits) {
  const std::string quad = DualReply("quadrature_faults.reply");
  const std::string half = DualReply("half_rate.reply");
  // The difference of quadrature_faults holds only its stamps' rounding: TDEV of a few ns, MTIE
  // of at least one tick at every tau.
  const std::string limits = Put("limits.csv",
                                 "deviation,tau_s,limit\n"
                                 "tdev,0.0005,1e-6\ntdev,1,1e-6\n"
                                 "mtie,0.0005,1e-9\nmtie,1,1e-9\n");
  const struct {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> out_holds;
    std::string err_holds;
    double tau0_s = 0;  // of the first row, when given
  } cases[] = {
      {{"jitter", quad}, 0, {"Intervals=99\nMissingPulses=0\nExtraPulses=1\n"}, ""},
      {{"jitter", "--channel", "2", quad},
       0,
       {"Intervals=98\nMissingPulses=1\nExtraPulses=0\n"},
       ""},
      // Channel 2's period, 40000.6 ticks, is also the difference's spacing (the slower line).
      {{"stability", "--channel", "2", "--taus", "1", half}, 0, {"\nadev,1,"}, "", 40000.6 * 25e-9},
      {{"stability", "--difference", "--taus", "1", half}, 0, {"\nadev,1,"}, "", 40000.6 * 25e-9},
      {{"stability", "--difference", "--limits", limits, quad},
       0,
       {"\nlimit=FAIL\nlimit_tdev=PASS,checked=", "\nlimit_mtie=FAIL,checked=",
        ",first_failing_tau_s=0.00100001\n"},
       ""},
      {{"jitter", "--channel", "2", DualReply("single_channel.reply")}, 2, {}, "no channel 2"},
      {{"jitter", "--channel", "2", Put("one.JIT", IntervalFile({"40000", "40000", "40000"}))},
       2,
       {},
       "not a raw sample reply"},
      {{"stability", "--difference", Put("plain.dat", "0\n1\n")}, 2, {}, "not a raw sample reply"},
      {{"channels", DualReply("single_channel.reply")}, 2, {}, "channel 2 holds 0 stamps"},
      {{"jitter", "--channel", "3", quad}, 2, {}, "--channel 3: 1 or 2"},
      {{"channels", "--window", "0", quad}, 2, {}, "--window 0"},
      {{"stability", "--limits", Put("bad.csv", "tau,limit\n"), "--difference", quad},
       2,
       {},
       "line 1: expected the header deviation,tau_s,limit"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const Outcome got = Run(c.args);
    EXPECT_EQ(got.status, c.status) << got.err;
    for (const std::string& part : c.out_holds) {
      EXPECT_NE(got.out.find(part), std::string::npos) << got.out;
    }
    if (c.status != 0) {
      EXPECT_EQ(got.out, "");
    }
    EXPECT_NE(got.err.find(c.err_holds), std::string::npos) << got.err;
    if (c.tau0_s > 0) {
      // deviation,af,tau_s,... of the first row; the stamps' rounding moves tau0 by 0.01 tick.
      const size_t row = got.out.find('\n') + 1;
      const size_t tau = got.out.find(',', got.out.find(',', row) + 1) + 1;
      EXPECT_NEAR(std::stod(got.out.substr(tau)), c.tau0_s, 3e-10) << got.out;
    }
  }
  // Channel 1 stays the default: asking for it changes no byte.
  EXPECT_EQ(Run({"stability", quad}).out, Run({"stability", "--channel", "1", quad}).out);
}

}  // namespace
