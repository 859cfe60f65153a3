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

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
      ::dup2(out[1], STDOUT_FILENO);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
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
  const Outcome got =
      Run({"capture", "--host", "127.0.0.1", "--port", std::to_string(port), "--count", "3",
           "--samples", "200", "--out", "blocks"});
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
  EXPECT_EQ(values.at("Efreq2").substr(0, 3), "999") << dual.out;
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
      {"no answer to the connection", {"--port", std::to_string(ntohs(address.sin_port))}, 1,
       "Asynchronous socket error 110.\n"},
      {"no reply", {"--port", std::to_string(silent)}, 1, "No reply within 4000 ms.\n"},
      {"folder under a file", {"--port", std::to_string(silent), "--out", "plain/blocks"}, 2,
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

}  // namespace
