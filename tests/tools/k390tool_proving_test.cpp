// Runs the built k390tool's prove, spectrum and pattern commands, and the --drift option, on
// stream logs taken from k390sim (tests/data/k390sim_streams, with the settings of each in
// reference.py there), and checks their figures against answers known from the simulator's
// settings or worked out apart from the tool by that script.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tool_process.h"

namespace {

namespace fs = std::filesystem;
using tool_test::Outcome;
using tool_test::Slurp;

const std::string kStreams = K390SIM_STREAMS;

Outcome RunTool(const std::vector<std::string>& args) {
  const fs::path dir = fs::temp_directory_path() / ("k390tool_proving_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string command = "'" K390TOOL_PATH "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " >'" + (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
  const int raw = std::system(command.c_str());
  Outcome outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
  fs::remove_all(dir);
  return outcome;
}

std::string Log(const std::string& name) { return kStreams + "/" + name; }

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, at);) parts.push_back(part);
  return parts;
}

// The NAME=VALUE lines of an output.
std::map<std::string, std::string> Values(const std::string& text) {
  std::map<std::string, std::string> values;
  for (const std::string& line : Split(text, '\n')) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

// Expected figures from reference.py's pass-by-pass double chronometry. A flight of 1 or 2.5 ms
// spans whole rotations of the 10-blade pattern (0.5 ms each) and proves without spread; 1.25
// ms does not, unless the pattern is taken out first.
TEST(K390toolProving, ProveRowsMatchDoubleChronometryWorkedApart) {
  const struct {
    std::vector<std::string> args;
    std::string row;  // as reference.py prints it, in the tool's formats
    std::string shortest, passing_from;
  } cases[] = {
      {{"perfect.dat"}, "1.25,34,0,25,0,0,0,1,0.05", "1", "1"},
      {{"pattern.dat"}, "1,40,0,20,0,0,0,1,0.05", "1", "2.5"},
      {{"pattern.dat"}, "1.25,32,0,25.00000256,0.0321005,0.0640205,0.0640205,0,0.05", "1", "2.5"},
      {{"pattern.dat"}, "2.5,16,0,50,0,0,0,1,0.05", "1", "2.5"},
      {{"--without-pattern", "pattern.dat"}, "1.25,32,0,25,0,0,0,1,0.05", "1", "1"},
      {{"--runs", "3", "sine.dat"},
       "1,69,0,20.00007476,0.130115,0.297857,0.353144,0,0.02",
       "2.5",
       "2.5"},
      {{"--runs", "3", "sine.dat"},
       "2.5,27,0,49.99983415,0.0128608,0.0090018,0.0190027,0.962963,0.02",
       "2.5",
       "2.5"},
      {{"--runs", "3", "--limit", "0.3", "sine.dat"},
       "1,69,0,20.00007476,0.130115,0.297857,0.353144,0.507246,0.3",
       "2.5",
       "2.5"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"prove", "--stream", "--flight-ms", "1,2.5,1.25"};
    args.insert(args.end(), c.args.begin(), c.args.end() - 1);
    args.push_back(Log(c.args.back()));
    const Outcome got = RunTool(args);
    SCOPED_TRACE(testing::PrintToString(args) + "\n" + got.out + got.err);
    ASSERT_EQ(got.status, 0);
    const std::vector<std::string> lines = Split(got.out, '\n');
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0],
              "flight_ms,provings,provings_with_gaps,mean_pulses,sd_pct,repeat_median_pct,"
              "repeat_p95_pct,pass_share,limit_pct");
    EXPECT_EQ(lines[1].substr(0, 2), "1,");  // rows by rising flight time
    EXPECT_NE(std::find(lines.begin() + 1, lines.begin() + 4, c.row), lines.begin() + 4);
    EXPECT_EQ(lines[4], "shortest_flight_ms_95=" + c.shortest);
    EXPECT_EQ(lines[5], "passing_from_ms_95=" + c.passing_from);
  }
}

// A sinusoid of 40 ticks (1 us) gives its line within 2 % between bins; the 10-blade pattern of
// 100 ticks P-P gives lines at the rate / 10 and its harmonics, of the amplitudes that the
// Fourier transform of one rotation's edge displacement gives (reference.py).
TEST(K390toolProving, SpectrumListsTheKnownLines) {
  const struct {
    std::string log;
    double freq_hz, amplitude_s;
    std::string divisor;  // "?" where the rule's label is not what is checked
  } cases[] = {
      {"sine.dat", 371.7, 1e-6, "?"},           {"pattern.dat", 2000, 2.763932e-07, "10"},
      {"pattern.dat", 4000, 5.052511e-07, "5"}, {"pattern.dat", 6000, 4.032522e-08, ""},
      {"pattern.dat", 8000, 5.002941e-07, ""},
  };
  for (const auto& c : cases) {
    const Outcome got = RunTool({"spectrum", "--stream", Log(c.log)});
    SCOPED_TRACE(c.log + " " + std::to_string(c.freq_hz));
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out.substr(0, 20), "freq_hz,amplitude_s\n");
    EXPECT_NE(got.out.find("\nrandom_rms_s="), std::string::npos);
    EXPECT_NE(got.out.find("\nfilled_points=0\n"), std::string::npos);
    bool found = false;
    for (const std::string& line : Split(got.out, '\n')) {
      if (line.rfind("line=", 0) != 0) continue;
      const std::vector<std::string> f = Split(line.substr(5) + ",", ',');
      ASSERT_EQ(f.size(), 4u) << line;
      if (std::fabs(std::stod(f[0]) - c.freq_hz) > 1) continue;
      found = true;
      EXPECT_NEAR(std::stod(f[1]), c.amplitude_s, 0.02 * c.amplitude_s) << line;
      EXPECT_NEAR(std::stod(f[2]), c.amplitude_s / 50e-6 * 100, 0.02 * c.amplitude_s / 50e-6 * 100);
      if (c.divisor != "?") {
        EXPECT_EQ(f[3], c.divisor) << line;
      }
    }
    EXPECT_TRUE(found) << got.out.substr(got.out.find("line="));
  }
}

// The simulator's deviations are the fractional parts of i times the golden ratio, less their
// mean, scaled to 100 ticks P-P, in % of the 2000-tick period; the log starts on position 0 of
// the rotor. Stamps whole ticks: each position reads its deviation within a tick (0.05 %).
TEST(K390toolProving, PatternOfTheSimulatorsRotorIsFoundOrGiven) {
  const double rotor_pct[] = {0.6957, -1.5403, 2.0777, -0.1584, -2.3944,
                              1.2236, -1.0125, 2.6056, 0.3695,  -1.8666};
  const struct {
    std::vector<std::string> args;
    std::string positions;
    size_t rows;
  } cases[] = {
      {{Log("pattern.dat")}, "10", 10},
      {{"--positions", "10", Log("pattern.dat")}, "10", 10},
      {{"--positions", "20", Log("pattern.dat")}, "20", 20},  // the rotor twice
      {{Log("perfect.dat")}, "none", 0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"pattern", "--stream"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome got = RunTool(args);
    SCOPED_TRACE(testing::PrintToString(args) + "\n" + got.out + got.err);
    ASSERT_EQ(got.status, 0);
    const std::vector<std::string> lines = Split(got.out, '\n');
    EXPECT_EQ(lines[0], "positions=" + c.positions);
    if (c.rows == 0) {
      EXPECT_EQ(lines.size(), 1u);
      continue;
    }
    ASSERT_EQ(lines.size(), 5 + c.rows);
    EXPECT_NEAR(std::stod(Values(got.out)["pattern_pp_pct"]), 5, 0.05);
    EXPECT_EQ(Values(got.out)["residual_rms_ticks"], "0");
    EXPECT_EQ(lines[4], "position,deviation_pct");
    for (size_t p = 0; p < c.rows; ++p) {
      const std::vector<std::string> row = Split(lines[5 + p], ',');
      EXPECT_EQ(row[0], std::to_string(p));
      EXPECT_NEAR(std::stod(row[1]), rotor_pct[p % 10], 0.05) << p;
    }
  }
}

// The ramp log's rate rises as 20000 Hz / (1 - 0.1 sin(2 pi t / 1000 s)): 20000 x 0.1 x 2 pi /
// 1000 = 12.566 Hz/s near t = 0. With the parabola taken out only the stamps' rounding is
// left: 25 ns / sqrt(12) = 7.2 ns rms. The least-squares line is the TIE's own reference, so
// --drift linear keeps TiePP as it was.
TEST(K390toolProving, DriftRemovalReportsTheRampAndLeavesTheRounding) {
  const Outcome plain = RunTool({"jitter", "--stream", Log("ramp.dat")});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.out.find("Drift"), std::string::npos);
  EXPECT_EQ(
      Values(RunTool({"jitter", "--stream", "--drift", "linear", Log("ramp.dat")}).out)["TiePP"],
      Values(plain.out)["TiePP"]);
  const struct {
    std::vector<std::string> args;
    bool on_stderr;
    std::string name;
    double value, tolerance;
  } cases[] = {
      {{"jitter", "--drift", "quadratic"}, false, "DriftRateHzPerS", 12.566, 0.05},
      {{"jitter", "--drift", "quadratic"}, false, "TieRms", 7.217e-9, 0.4e-9},
      {{"stability", "--drift", "quadratic"}, true, "DriftRateHzPerS", 12.566, 0.05},
      {{"spectrum", "--drift", "quadratic"}, false, "drift_rate_hz_per_s", 12.566, 0.05},
      {{"spectrum", "--drift", "quadratic"}, false, "random_rms_s", 7.217e-9, 0.4e-9},
      {{"spectrum", "--drift", "linear"}, false, "drift_frequency_hz", 20001.38, 0.01},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--stream", Log("ramp.dat")});
    const Outcome got = RunTool(args);
    SCOPED_TRACE(testing::PrintToString(args) + "\n" + got.out.substr(0, 200) + got.err);
    ASSERT_EQ(got.status, 0);
    const std::map<std::string, std::string> values = Values(c.on_stderr ? got.err : got.out);
    ASSERT_EQ(values.count(c.name), 1u);
    EXPECT_NEAR(std::stod(values.at(c.name)), c.value, c.tolerance);
    if (c.args[2] == "linear") {
      EXPECT_EQ(values.count("drift_rate_hz_per_s"), 0u);
    }
  }
}

TEST(K390toolProving, BadInputIsRefusedWithOneMessageAndExit2) {
  const std::string perfect = Log("perfect.dat");
  const fs::path dir = fs::temp_directory_path() / ("k390tool_short_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string short_log = (dir / "short.dat").string();
  std::ofstream(short_log) << "0\n2000\n2000\n2000\n2000\n";
  const struct {
    std::vector<std::string> args;
    std::string err_holds;
  } cases[] = {
      {{"prove", "--runs", "1"}, "--runs 1: not a whole number of runs from 2"},
      {{"prove", "--passes", "0"}, "--passes 0: not"},
      {{"prove", "--flight-ms", "0"}, "--flight-ms 0: not a finite number of ms above 0"},
      {{"prove", "--flight-ms", "1,nan"}, "--flight-ms nan: not"},
      {{"prove", "--flight-ms", "1,-2"}, "--flight-ms -2: not"},
      {{"prove", "--flight-ms", "1,"}, "--flight-ms : not"},
      {{"prove", "--pause-ms", "-1"}, "--pause-ms -1: not"},
      {{"prove", "--limit", "inf"}, "--limit inf: not"},
      {{"prove"}, "perfect.dat: too short for the default scan"},
      {{"prove", "--flight-ms", "1000"}, "perfect.dat: too short for one proving"},
      {{"prove", "--without-pattern"}, "perfect.dat: no repeating pattern found"},
      {{"spectrum", "--segment", "8"}, "--segment 8: not a whole number of pulses from 16"},
      {{"spectrum", "--drift", "cubic"}, "--drift cubic: not none, linear or quadratic"},
      {{"jitter", "--drift", "cubic"}, "--drift cubic: not none, linear or quadratic"},
      {{"pattern", "--positions", "0"}, "--positions 0: not"},
      {{"pattern", "--positions", "5000"}, "No whole interval at pattern position"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--stream", perfect});
    const Outcome got = RunTool(args);
    SCOPED_TRACE(testing::PrintToString(args) + "\n" + got.err);
    EXPECT_EQ(got.status, 2);
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), 1);
    EXPECT_NE(got.err.find(c.err_holds), std::string::npos);
  }
  const Outcome tiny = RunTool({"spectrum", "--stream", short_log});
  EXPECT_EQ(tiny.status, 2);
  EXPECT_NE(tiny.err.find("short.dat: 5 grid points; the spectrum needs at least 16"),
            std::string::npos)
      << tiny.err;
  fs::remove_all(dir);
}

}  // namespace
