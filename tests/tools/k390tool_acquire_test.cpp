// k390tool capture and stream run against k390sim on 127.0.0.1, as the programs that call them
// see them: exit statuses, printed lines and the files left behind.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tool_process.h"

namespace {

namespace fs = std::filesystem;

using tool_test::Outcome;
using tool_test::Slurp;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "key=value" lines of the tool's final summary.
std::map<std::string, std::string> KeyValues(const std::string& text) {
  std::map<std::string, std::string> values;
  for (const std::string& line : Lines(text)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

// A TCP port on 127.0.0.1 that nothing listens on (bound, then released).
int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

// A free UDP port, and a socket holding one when `keep` is given.
int UdpPort(int* keep = nullptr) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  if (keep != nullptr) {
    *keep = fd;
  } else {
    ::close(fd);
  }
  return ntohs(address.sin_port);
}

class AcquireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("k390acquire_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    StopSim();
    fs::remove_all(dir_);
  }

  // Starts k390sim on a free port with these options; returns its TCP port.
  int StartSim(const std::vector<std::string>& options) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    sim_ = ::fork();
    if (sim_ == 0) {
      ::chdir(dir_.c_str());
      ::dup2(out[1], STDOUT_FILENO);
      const int err = ::open((dir_ / "sim.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(err, STDERR_FILENO);
      ::close(out[0]);
      std::vector<std::string> args = {K390SIM_PATH, "--port", "0"};
      args.insert(args.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(K390SIM_PATH, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string banner;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') banner += c;
    ::close(out[0]);
    const size_t colon = banner.rfind(':');
    return colon == std::string::npos ? 0 : std::stoi(banner.substr(colon + 1));
  }

  void StopSim() {
    if (sim_ <= 0) return;
    ::kill(sim_, SIGTERM);
    ::waitpid(sim_, nullptr, 0);
    sim_ = -1;
  }

  // Starts the tool in the test folder with its output in files there; `before_exec` runs in
  // the child.
  pid_t Spawn(const std::vector<std::string>& options, void (*before_exec)() = nullptr) const {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::chdir(dir_.c_str());
      const int out = ::open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open("stderr", O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, STDOUT_FILENO);
      ::dup2(err, STDERR_FILENO);
      if (before_exec != nullptr) before_exec();
      std::vector<std::string> args = {K390TOOL_PATH};
      args.insert(args.end(), options.begin(), options.end());
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(K390TOOL_PATH, argv.data());
      ::_exit(127);
    }
    return pid;
  }

  Outcome Wait(pid_t pid) const {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = Slurp(dir_ / "stdout");
    outcome.err = Slurp(dir_ / "stderr");
    return outcome;
  }

  Outcome Run(const std::vector<std::string>& options, void (*before_exec)() = nullptr) const {
    return Wait(Spawn(options, before_exec));
  }

  fs::path dir_;
  pid_t sim_ = -1;
};

// ---------------------------------------------------------------------------------------------
// capture

TEST_F(AcquireTest, CapturedBlocksAreSavedAndPrintedAsFiguresPrintsTheSavedFiles) {
  const int port = StartSim({"--jitter-ticks", "5"});
  const Outcome got = Run({"capture", "--host", "127.0.0.1", "--port", std::to_string(port),
                           "--count", "3", "--samples", "200", "--out", "blocks"});
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.err, "");
  std::vector<std::string> files;
  for (int k = 1; k <= 3; ++k) {
    files.push_back("blocks/capture-000" + std::to_string(k) + ".JIT");
    const std::vector<std::string> lines = Lines(Slurp(dir_ / files.back()));
    ASSERT_EQ(lines.size(), 200u) << files.back();
    EXPECT_EQ(lines.front(), ";Sample,TDelta(x25ns)");
  }
  // The same pass over the saved intervals, the held maximum carried the same way, gives the
  // same lines: the blocks were saved whole and printed by the figures command's rules.
  std::vector<std::string> figures_args = {"figures"};
  figures_args.insert(figures_args.end(), files.begin(), files.end());
  const Outcome figures = Run(figures_args);
  ASSERT_EQ(figures.status, 0) << figures.err;
  EXPECT_EQ(got.out, figures.out);

  const Outcome dual = Run({"capture", "--host", "127.0.0.1", "--port", std::to_string(port),
                            "--dual", "--samples", "20", "--out", "dual"});
  ASSERT_EQ(dual.status, 0) << dual.err;
  const std::map<std::string, std::string> values = KeyValues(dual.out);
  EXPECT_EQ(values.at("File"), "dual/capture-0001.JIT");
  // Channel 2 runs at the simulator's channel 1 rate, 1000 Hz; a single-channel block has 0.
  EXPECT_NEAR(std::stod(values.at("Efreq2")), 1000, 1) << dual.out;
}

TEST_F(AcquireTest, CaptureFailuresGiveTheirMessageAndStatus) {
  const int silent = StartSim({"--no-reply"});
  // A listener whose queue is full answers no connection attempt: an unreachable host.
  const int full = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(full, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(full, 0), 0);
  socklen_t size = sizeof address;
  ::getsockname(full, reinterpret_cast<sockaddr*>(&address), &size);
  std::vector<int> queued;
  for (int i = 0; i < 3; ++i) {
    queued.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  std::ofstream(dir_ / "plain") << "x";

  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {"refused", {"--port", std::to_string(ClosedPort())}, 1, "Asynchronous socket error 111.\n"},
      {"no answer to the connection",
       {"--port", std::to_string(ntohs(address.sin_port))},
       1,
       "Asynchronous socket error 110.\n"},
      {"no reply", {"--port", std::to_string(silent)}, 1, "No reply within 4000 ms.\n"},
      {"folder under a file",
       {"--port", std::to_string(silent), "--out", "plain/blocks"},
       2,
       "Cannot create \"plain/blocks\": Not a directory.\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"capture", "--host", "127.0.0.1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome got = Run(args);
    EXPECT_EQ(got.status, c.status) << c.name;
    EXPECT_EQ(got.err, c.err) << c.name;
    EXPECT_EQ(got.out, "") << c.name;
  }
  for (int fd : queued) ::close(fd);
  ::close(full);

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"capture", "--port", "1"},
           {"capture", "--host", "h", "--samples", "9"},
           {"capture", "--host", "h", "--count", "2", "--seconds", "1"},
           {"capture", "--host", "h", "--port", "70000"},
       }) {
    const Outcome got = Run(args);
    EXPECT_EQ(got.status, 2) << testing::PrintToString(args);
    EXPECT_NE(got.err.find("Usage:"), std::string::npos) << testing::PrintToString(args);
  }
}

// A run that cannot go on ends at once with the reason, whatever --count or --seconds ask for;
// what the instrument sent before is kept, and a reply cut short is what it holds.
TEST_F(AcquireTest, CaptureEndsAtOnceWithTheReasonWhenTheInstrumentFails) {
  fs::create_directory(dir_ / "ro");
  fs::permissions(dir_ / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  const std::string closed = "The instrument closed the link.\n";
  const struct {
    const char* name;
    std::vector<std::string> sim;  // empty: no simulator
    std::vector<std::string> args;
    int status;
    std::string err;
    int blocks;
  } cases[] = {
      {"closes the link mid-run", {"--close-after", "2"}, {"--count", "1000"}, 1, closed, 2},
      {"closes the link in a timed run",
       {"--close-after", "2"},
       {"--seconds", "3600"},
       1,
       closed,
       2},
      {"closes the link after the last block", {"--close-after", "2"}, {"--count", "2"}, 0, "", 2},
      {"stops answering mid-run",
       {"--silent-after", "1"},
       {"--count", "1000"},
       1,
       "No reply within 4000 ms.\n",
       1},
      {"host name not found",
       {},
       {"--host", "k390-no-such-host.invalid"},
       1,
       "Host name not found: k390-no-such-host.invalid.\n",
       0},
      {"folder that takes no files",
       {"--no-reply"},
       {"--out", "ro"},
       2,
       "Cannot write to \"ro\": Permission denied.\n",
       0},
      {"reply cut short",
       {"--short-reply", "10", "--jitter-ticks", "0"},
       {"--samples", "3000"},
       0,
       "",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"capture"};
    if (c.args.front() != "--out") args.insert(args.end(), {"--out", "blocks"});
    if (!c.sim.empty()) {
      const int port = StartSim(c.sim);
      args.insert(args.end(), {"--host", "127.0.0.1", "--port", std::to_string(port)});
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    fs::remove_all(dir_ / "blocks");
    // A folder without write permission holds back every user but root: the tool then runs
    // as another user.
    void (*as_user)() = [] {
      if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
    };
    const Outcome got = Run(args, c.args.back() == "ro" ? as_user : nullptr);
    StopSim();
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.err, c.err);
    const std::vector<std::string> lines = Lines(got.out);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("File=", 0) == 0; }),
              c.blocks);
  }
  // The last case: 9 intervals of 40000 ticks, saved and printed, none invented.
  const std::map<std::string, std::string> values = KeyValues(Slurp(dir_ / "stdout"));
  EXPECT_EQ(values.at("Warning"), "reply ended early: 10 of 3000 records");
  EXPECT_EQ(values.at("Esampavg"), "40000");
  EXPECT_EQ(values.at("Ejitpp"), "0");
  const std::vector<std::string> saved = Lines(Slurp(dir_ / "blocks/capture-0001.JIT"));
  ASSERT_EQ(saved.size(), 10u);
  for (size_t i = 1; i < saved.size(); ++i) EXPECT_EQ(saved[i], std::to_string(i - 1) + ",40000");
}

// ---------------------------------------------------------------------------------------------
// stream

// The words a log holds: each line's delta added to the word before, the first to 0, modulo
// 2^32 as the instrument's counter runs.
std::vector<uint32_t> LoggedWords(const std::string& log) {
  std::vector<uint32_t> words;
  uint32_t word = 0;
  for (const std::string& line : Lines(log)) {
    word += static_cast<uint32_t>(std::stoull(line));
    words.push_back(word);
  }
  return words;
}

std::vector<uint32_t> SimWords(const std::string& text) {
  std::vector<uint32_t> words;
  for (const std::string& line : Lines(text))
    words.push_back(static_cast<uint32_t>(std::stoull(line)));
  return words;
}

// With every d-th pulse left out, the simulator's word i (from 1) is pulse i + (i - 1) / (d - 1).
int64_t PulseOfWord(int64_t i, int64_t d) { return i + (i - 1) / (d - 1); }

TEST_F(AcquireTest, StreamLogsEveryWordAndSumsTheRunUpAsTheBatchToolsDo) {
  constexpr int64_t kSimWords = 24000;
  constexpr int64_t kDatagramWords = 250;
  constexpr int64_t kDropEvery = 7;
  for (const std::string transport : {"udp", "tcp"}) {
    SCOPED_TRACE(transport);
    const int udp_port = UdpPort();
    const int port = StartSim({"--freq", "200000", "--jitter-ticks", "3", "--drop-every",
                               std::to_string(kDropEvery), "--words", std::to_string(kSimWords),
                               "--words-per-datagram", std::to_string(kDatagramWords), "--udp-port",
                               std::to_string(udp_port), "--log-words", "sim.txt"});
    // The first datagram of a start is dropped; the TCP link loses nothing.
    const int64_t skipped = transport == "udp" ? kDatagramWords : 0;
    const int64_t logged = kSimWords - skipped;
    fs::create_directories(dir_ / "run");
    const Outcome got = Run({"stream", "--host", "127.0.0.1", "--port", std::to_string(port),
                             "--transport", transport, "--udp-port", std::to_string(udp_port),
                             "--words", std::to_string(logged), "--out", "run/log.dat"});
    StopSim();
    ASSERT_EQ(got.status, 0) << got.err;

    const std::vector<uint32_t> words = LoggedWords(Slurp(dir_ / "run/log.dat"));
    const std::vector<uint32_t> sent = SimWords(Slurp(dir_ / "sim.txt"));
    ASSERT_EQ(words.size(), static_cast<size_t>(logged));
    ASSERT_EQ(sent.size(), static_cast<size_t>(kSimWords));
    EXPECT_TRUE(std::equal(words.begin(), words.end(), sent.begin() + skipped));
    EXPECT_NE(Slurp(dir_ / "sim.err").find("stream mode=0"), std::string::npos);

    const int64_t first = PulseOfWord(skipped + 1, kDropEvery);
    const int64_t last = PulseOfWord(kSimWords, kDropEvery);
    const int64_t missing = (last - 1) / kDropEvery - first / kDropEvery;
    const std::map<std::string, std::string> printed = KeyValues(got.out);
    EXPECT_EQ(printed.at("words"), std::to_string(logged));
    EXPECT_EQ(printed.at("missing"), std::to_string(missing));
    EXPECT_EQ(printed.at("lost"), "0");
    EXPECT_EQ(printed.at("summary"), "run/log.summary.json");
    EXPECT_EQ(printed.count("ended_early"), 0u);

    const nlohmann::json summary = nlohmann::json::parse(Slurp(dir_ / "run/log.summary.json"));
    EXPECT_EQ(summary.at("words"), logged);
    EXPECT_EQ(summary.at("missing_pulses"), missing);
    EXPECT_EQ(summary.at("extra_pulses"), 0);
    EXPECT_TRUE(summary.at("ended_early").is_null());

    // Every row is the batch figure, with its noise type and bounds; MTIE too, taken again
    // against the final tau0 at the stop.
    const Outcome batch = Run({"stability", "--stream", "run/log.dat"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    std::map<std::string, std::vector<std::string>> rows;
    for (const std::string& line : Lines(batch.out)) {
      std::vector<std::string> fields;
      std::istringstream in(line);
      for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
      if (fields.size() >= 6) rows[fields[0] + "/" + fields[1]] = fields;
    }
    int compared = 0, bounded = 0;
    // The batch prints 10 significant digits.
    const auto near = [](const nlohmann::json& got, const std::string& printed) {
      const double want = std::stod(printed);
      return std::abs(got.get<double>() - want) <= std::abs(want) * 1e-9;
    };
    for (const nlohmann::json& row : summary.at("stability")) {
      const std::string key = row.at("deviation").get<std::string>() + "/" +
                              std::to_string(row.at("af").get<int64_t>());
      ASSERT_EQ(rows.count(key), 1u) << key;
      std::vector<std::string>& want = rows[key];
      want.resize(8);
      EXPECT_EQ(want[3], std::to_string(row.at("n").get<int64_t>())) << key;
      EXPECT_TRUE(near(row.at("value"), want[5])) << key;
      ASSERT_FALSE(want[4].empty()) << key;
      EXPECT_EQ(want[4], std::to_string(row.at("alpha").get<int>())) << key;
      ASSERT_EQ(want[6].empty(), row.at("min").is_null()) << key;
      ++compared;
      if (want[6].empty()) continue;
      EXPECT_TRUE(near(row.at("min"), want[6]) && near(row.at("max"), want[7])) << key;
      ++bounded;
    }
    // Every deviation has a row, OADEV and TIE rms at 8 factors; all but MTIE are bounded.
    EXPECT_GE(compared, 20);
    EXPECT_GE(bounded, 16);
  }
}

// SIGTERM in the middle of an endless stream: the stop command goes out, the log and the
// summary are complete, the status is 0.
TEST_F(AcquireTest, StreamStopsCleanlyOnSigterm) {
  const int port = StartSim({"--freq", "50000", "--log-words", "sim.txt"});
  const pid_t tool = Spawn({"stream", "--host", "127.0.0.1", "--port", std::to_string(port),
                            "--transport", "tcp", "--out", "endless"});
  // Wait for words to reach the log (its 64 KiB buffer written out at least once).
  for (int i = 0;
       i < 200 && (!fs::exists(dir_ / "endless") || fs::file_size(dir_ / "endless") == 0); ++i) {
    ::usleep(50000);
  }
  ASSERT_GT(fs::file_size(dir_ / "endless"), 0u);
  ::kill(tool, SIGTERM);
  const Outcome got = Wait(tool);
  StopSim();
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_NE(Slurp(dir_ / "sim.err").find("stream mode=0"), std::string::npos);
  const std::vector<uint32_t> words = LoggedWords(Slurp(dir_ / "endless"));
  const std::vector<uint32_t> sent = SimWords(Slurp(dir_ / "sim.txt"));
  ASSERT_LE(words.size(), sent.size());
  EXPECT_TRUE(std::equal(words.begin(), words.end(), sent.begin()));
  const nlohmann::json summary = nlohmann::json::parse(Slurp(dir_ / "endless.summary.json"));
  EXPECT_EQ(summary.at("words"), static_cast<int64_t>(words.size()));
  EXPECT_TRUE(summary.at("ended_early").is_null());
  EXPECT_EQ(KeyValues(got.out).at("words"), std::to_string(words.size()));
}

void LimitFileSize() {
  const rlimit limit{200003, 200003};
  ::setrlimit(RLIMIT_FSIZE, &limit);
  ::signal(SIGXFSZ, SIG_IGN);
}

// A start that never brings a word leaves the previous log and its summary as they were, with
// the reason and status 1; a log that cannot be created is status 2 before anything starts.
TEST_F(AcquireTest, AStreamThatNeverStartsLeavesThePreviousLogAndSummary) {
  int held = -1;
  const int busy_udp = UdpPort(&held);
  const int free_udp = UdpPort();
  const std::string elsewhere = std::to_string(UdpPort());
  const std::string silent = "No stream words from the instrument within 4000 ms.\n";
  std::ofstream(dir_ / "plain") << "x";
  const struct {
    const char* name;
    std::vector<std::string> sim;  // empty: none runs
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {"refused", {}, {"--transport", "tcp"}, 1, "Asynchronous socket error 111.\n"},
      {"port in use",
       {"--freq", "1000"},
       {"--transport", "udp", "--udp-port", std::to_string(busy_udp)},
       1,
       "UDP port " + std::to_string(busy_udp) + " is in use by another program.\n"},
      {"no acknowledgement, UDP", {"--no-reply"}, {"--transport", "udp"}, 1, silent},
      {"no acknowledgement, TCP", {"--no-reply"}, {"--transport", "tcp"}, 1, silent},
      {"datagrams sent elsewhere",
       {"--freq", "1000", "--udp-port", elsewhere},
       {"--transport", "udp"},
       1,
       silent},
      {"folder under a file",
       {"--freq", "1000"},
       {"--transport", "tcp", "--out", "plain/x.dat"},
       2,
       "Cannot create \"plain/x.dat\": Not a directory.\n"},
  };
  const std::string log = "40000\r\n40001\r\n";
  const std::string summary = "{\"words\": 2}\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir_ / "stream.dat", std::ios::binary) << log;
    std::ofstream(dir_ / "stream.summary.json", std::ios::binary) << summary;
    const int port = c.sim.empty() ? ClosedPort() : StartSim(c.sim);
    std::vector<std::string> args = {
        "stream", "--host", "127.0.0.1", "--port", std::to_string(port), "--seconds", "8"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (std::find(args.begin(), args.end(), "--udp-port") == args.end()) {
      args.insert(args.end(), {"--udp-port", std::to_string(free_udp)});
    }
    const Outcome got = Run(args);
    StopSim();
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(got.err, c.err);
    EXPECT_EQ(Slurp(dir_ / "stream.dat"), log);
    EXPECT_EQ(Slurp(dir_ / "stream.summary.json"), summary);
    EXPECT_FALSE(fs::exists(dir_ / "stream.dat.tmp"));
    if (c.status == 2) {
      EXPECT_EQ(got.out, "");
      continue;
    }
    const std::map<std::string, std::string> printed = KeyValues(got.out);
    EXPECT_EQ(printed.at("words"), "0");
    EXPECT_EQ(printed.at("summary"), "");
    EXPECT_EQ(printed.at("ended_early") + ".\n", c.err);
  }
  ::close(held);
}

// A disk that fills mid-run: the log holds whole lines only, the first words of the stream,
// and the summary's words are those lines.
TEST_F(AcquireTest, AStreamOnAFullDiskKeepsWholeLinesAndCountsThem) {
  const int udp_port = UdpPort();
  const int port = StartSim(
      {"--freq", "200000", "--udp-port", std::to_string(udp_port), "--log-words", "sim.txt"});
  const Outcome got =
      Run({"stream", "--host", "127.0.0.1", "--port", std::to_string(port), "--transport", "udp",
           "--udp-port", std::to_string(udp_port), "--seconds", "5", "--out", "full.dat"},
          LimitFileSize);
  StopSim();
  EXPECT_EQ(got.status, 1);
  const nlohmann::json summary = nlohmann::json::parse(Slurp(dir_ / "full.summary.json"));
  const std::string why = summary.at("ended_early").get<std::string>();
  EXPECT_NE(why.find("File too large"), std::string::npos) << why;
  EXPECT_EQ(got.err, why + ".\n");
  EXPECT_EQ(KeyValues(got.out).at("ended_early"), why);
  const std::string log = Slurp(dir_ / "full.dat");
  EXPECT_TRUE(log.ends_with("\r\n"));
  const std::vector<uint32_t> words = LoggedWords(log);
  const std::vector<uint32_t> sent = SimWords(Slurp(dir_ / "sim.txt"));
  ASSERT_GT(words.size(), 1000u);
  ASSERT_LE(words.size() + 250, sent.size());
  EXPECT_TRUE(std::equal(words.begin(), words.end(), sent.begin() + 250));
  EXPECT_EQ(summary.at("words").get<size_t>(), words.size());
  EXPECT_EQ(KeyValues(got.out).at("words"), std::to_string(words.size()));
}

// Another socket on the instrument's host sends into the stream: its datagrams are refused and
// counted, and the log is the instrument's words alone.
TEST_F(AcquireTest, DatagramsFromAnotherSenderAreRefusedAndCounted) {
  constexpr int64_t kSimWords = 24000;  // 96 datagrams: a foreign one before every 10th
  const int udp_port = UdpPort();
  const int port =
      StartSim({"--freq", "100000", "--words", std::to_string(kSimWords), "--foreign-every", "10",
                "--udp-port", std::to_string(udp_port), "--log-words", "sim.txt"});
  const Outcome got =
      Run({"stream", "--host", "127.0.0.1", "--port", std::to_string(port), "--transport", "udp",
           "--udp-port", std::to_string(udp_port), "--words", std::to_string(kSimWords - 250)});
  StopSim();
  ASSERT_EQ(got.status, 0) << got.err;
  EXPECT_NE(Slurp(dir_ / "sim.err").find("datagrams from another socket: 9"), std::string::npos);
  const std::vector<uint32_t> words = LoggedWords(Slurp(dir_ / "stream.dat"));
  const std::vector<uint32_t> sent = SimWords(Slurp(dir_ / "sim.txt"));
  ASSERT_EQ(words.size() + 250, sent.size());
  EXPECT_TRUE(std::equal(words.begin(), words.end(), sent.begin() + 250));
  const std::map<std::string, std::string> printed = KeyValues(got.out);
  EXPECT_EQ(printed.at("foreign_datagrams"), "9");
  EXPECT_EQ(printed.at("missing"), "0");
  const nlohmann::json summary = nlohmann::json::parse(Slurp(dir_ / "stream.summary.json"));
  EXPECT_EQ(summary.at("foreign_datagrams"), 9);
  EXPECT_EQ(summary.at("missing_pulses"), 0);
  EXPECT_EQ(summary.at("lost_words"), 0);
}

// ---------------------------------------------------------------------------------------------
// capture --dual

// Both channels' stamps of a kept reply: records "k,stamp1,stamp2" in hexadecimal after the
// "<SAMPLES>count1,count2" header, each channel cut at its count.
std::pair<std::vector<int64_t>, std::vector<int64_t>> ReplyStamps(const std::string& reply) {
  const std::vector<std::string> lines = Lines(reply);
  const std::string& header = lines.front();
  const size_t from = header.find("<SAMPLES>") + 9;
  const size_t comma = header.find(',', from);
  const size_t count1 = std::stoul(header.substr(from, comma - from), nullptr, 16);
  const size_t count2 = std::stoul(header.substr(comma + 1), nullptr, 16);
  std::vector<int64_t> ch1, ch2;
  for (size_t k = 1; k < lines.size() && lines[k].find("</K390>") == std::string::npos; ++k) {
    const size_t a = lines[k].find(',');
    const size_t b = lines[k].find(',', a + 1);
    if (k - 1 < count1) ch1.push_back(std::stoll(lines[k].substr(a + 1, b - a - 1), nullptr, 16));
    if (k - 1 < count2) ch2.push_back(std::stoll(lines[k].substr(b + 1), nullptr, 16));
  }
  return {ch1, ch2};
}

// The errors a dual block of k390sim must show ("kind,record" and its time in ticks from the
// block's first stamp): at 1000 Hz without jitter channel 1's pulse n lies at n 40000 ticks and
// channel 2's at (n + 1/4) 40000, channel 2 loses pulse n when 40 divides n, and channel 1 gains
// one 0.4 periods after pulse n when 60 divides it. Only what lies in the span both channels
// cover counts.
std::vector<std::pair<std::string, int64_t>> ExpectedErrors(const std::vector<int64_t>& ch1,
                                                            const std::vector<int64_t>& ch2) {
  const int64_t p = 40000;
  const int64_t from = std::max(ch1.front(), ch2.front());
  const int64_t to = std::min(ch1.back(), ch2.back());
  const int64_t origin = std::min(ch1.front(), ch2.front());
  std::vector<std::pair<int64_t, std::string>> at;  // time, "kind,record"
  for (int64_t n = ch1.front() / p; n <= ch1.back() / p + 1; ++n) {
    const int64_t lost = n * p + p / 4;
    if (n % 40 == 0 && lost > from && lost < to) {
      const auto next = std::upper_bound(ch2.begin(), ch2.end(), lost) - ch2.begin();
      at.push_back({lost, "missing_ch2," + std::to_string(next)});
    }
    const int64_t extra = n * p + p * 4 / 10;
    if (n % 60 == 0 && extra >= from && extra <= to) {
      const auto record = std::find(ch1.begin(), ch1.end(), extra) - ch1.begin();
      at.push_back({extra, "extra_ch1," + std::to_string(record)});
    }
  }
  std::sort(at.begin(), at.end());
  std::vector<std::pair<std::string, int64_t>> errors;
  for (const auto& [t, what] : at) errors.push_back({what, t - origin});
  return errors;
}

// k390sim in dual mode with faults on one line each, a drifting phase, and channel 1 at twice
// channel 2's rate: each kept reply, analysed again by `channels`, shows exactly what was put in,
// and the run summary adds the blocks up.
TEST_F(AcquireTest, DualCaptureKeepsEachReplyAndSumsTheRunsChannelErrors) {
  const struct {
    const char* name;
    std::vector<std::string> sim;
    double ratio, phase_deg, drift_deg_per_s;
    bool faults;
  } cases[] = {
      {"a pulse lost on channel 2, one gained on channel 1",
       {"--ch2-phase", "90", "--ch2-drop-every", "40", "--ch1-extra-every", "60", "--extra-at",
        "0.4"},
       0,
       90,
       0,
       true},
      {"a drifting phase", {"--ch2-phase", "60", "--ch2-phase-drift", "36"}, 1, 0, 36, false},
      {"channel 1 at twice channel 2's rate",
       {"--ch2-ratio", "0.5", "--ch2-phase", "90"},
       0.5,
       90,
       0,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> sim = {"--jitter-ticks", "0"};
    sim.insert(sim.end(), c.sim.begin(), c.sim.end());
    const int port = StartSim(sim);
    fs::remove_all(dir_ / "dual");
    const Outcome got = Run({"capture", "--host", "127.0.0.1", "--port", std::to_string(port),
                             "--dual", "--samples", "400", "--count", "2", "--out", "dual"});
    StopSim();
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_NE(got.out.find("Reply=dual/capture-0002.reply\nSummary=dual/capture.summary.json\n"),
              std::string::npos)
        << got.out;
    const nlohmann::json summary = nlohmann::json::parse(Slurp(dir_ / "dual/capture.summary.json"));
    EXPECT_EQ(summary.at("blocks"), 2);
    int64_t listed = 0;
    int64_t paired = 0;
    for (int block = 1; block <= 2; ++block) {
      const std::string reply = "dual/capture-000" + std::to_string(block) + ".reply";
      const Outcome channels = Run({"channels", reply});
      ASSERT_EQ(channels.status, 0) << channels.err;
      const std::map<std::string, std::string> values = KeyValues(channels.out);
      paired += std::stoll(values.at("paired"));
      if (c.ratio > 0) {
        EXPECT_NEAR(std::stod(values.at("ratio")), c.ratio, 1e-3);
      }
      EXPECT_NEAR(std::stod(values.at("phase_drift_deg_per_s")), c.drift_deg_per_s, 0.05);
      if (c.drift_deg_per_s == 0) {
        EXPECT_NEAR(std::stod(values.at("phase_mean_deg")), c.phase_deg, 0.01);
      }
      const auto [ch1, ch2] = ReplyStamps(Slurp(dir_ / reply));
      const auto expected =
          c.faults ? ExpectedErrors(ch1, ch2) : std::vector<std::pair<std::string, int64_t>>{};
      std::vector<std::string> errors;
      for (const std::string& line : Lines(channels.out)) {
        if (line.rfind("error=", 0) == 0) errors.push_back(line.substr(6));
      }
      ASSERT_EQ(errors.size(), expected.size()) << channels.out;
      for (size_t i = 0; i < errors.size(); ++i) {
        const size_t comma = errors[i].rfind(',');
        EXPECT_EQ(errors[i].substr(0, comma), expected[i].first);
        EXPECT_NEAR(std::stod(errors[i].substr(comma + 1)), expected[i].second * 25e-9, 25e-9);
        const nlohmann::json& entry = summary.at("errors").at(listed++);
        EXPECT_EQ(entry.at("block"), block);
        EXPECT_EQ(entry.at("error").get<std::string>() + "," +
                      std::to_string(entry.at("record").get<int64_t>()),
                  expected[i].first);
      }
    }
    EXPECT_EQ(listed > 0, c.faults);  // 800 pulses hold a dozen faults
    EXPECT_EQ(summary.at("errors").size(), static_cast<size_t>(listed));
    EXPECT_EQ(summary.at("paired"), paired);
    EXPECT_EQ(summary.at("missing_ch2").get<int64_t>() + summary.at("extra_ch1").get<int64_t>(),
              listed);
    EXPECT_EQ(summary.at("direction"), "forward");
  }
}

}  // namespace
