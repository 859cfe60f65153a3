#include "stream_command.h"

#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <memory>
#include <span>
#include <variant>

#include "acquisition/capture_cycle.h"
#include "acquisition/pulse_data.h"
#include "acquisition/udp_receiver.h"
#include "analysis/run_tracker.h"
#include "common/error.h"
#include "cycle_runner.h"
#include "messages.h"
#include "persistence/run_summary.h"

namespace k390tool {
namespace {

namespace event = acquisition::event;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kUsage =
    R"help(  k390tool stream --host H [--port P] --transport udp|tcp [--udp-port U]
                  [--seconds S | --words N] [--out FILE]
)help";

constexpr std::string_view kHelp = R"help(stream
  The window's stream session without the window: sends the stream command to the instrument
  at H:P (default port {tcp}) for UDP datagrams to port U of this machine (default {udp}; the
  first datagram of a start that holds a byte is dropped, as the window drops it, and only
  datagrams from the instrument's address and the source port of its first datagram are
  taken) or for words on the TCP link, logs every word as the window logs it (one delta in
  ticks a line, CR LF) to FILE (default "stream.dat"), and at the stop sends the stop command
  and writes the run's summary beside the log (FILE's extension replaced by .summary.json,
  added when FILE has none). FILE and its summary are replaced only when the first word
  arrives: a start that fails, or an instrument that sends nothing, leaves both as they were.
  Runs until N words have entered the log (a few more may follow before the stop takes
  effect), S seconds have passed, or SIGINT or SIGTERM arrives: each is a normal stop.
  While standard error is a terminal, a line once a second shows the words so far, the
  word rate, and the lost words and missing pulses. At the end, always:
    words=<lines of the log>
    lost=<words lost before the log>
    foreign_datagrams=<datagrams from other senders, refused>
    stray_bytes=<bytes that made no whole word>
    missing=<missing pulses>
    extra=<extra pulses>
    mean_rate=<words per second of instrument time>
    summary=<the summary file, empty when no word came>
  then ambiguous=<why> when the indexing of the run's pulses is not sound (the rule of
  k390tool jitter, one interval at a time: a gap is judged by the pulses before it), and,
  when the run ended before it was asked to, ended_early=<why>.
  Exit status: 0 done (also after SIGINT or SIGTERM); 1 the link refused or failed
  ("Asynchronous socket error N", 111 refused, 110 no answer), the UDP port in use ("UDP
  port U is in use by another program"), no word within 4 s of the start ("No stream words
  from the instrument within 4000 ms"), the instrument closing the link of a TCP stream
  ("The instrument closed the link"), a log write that failed mid-run (the disk full): the
  log keeps the whole lines written, the summary's words are those lines and it says why
  the run ended early; 2 bad arguments or a log that cannot be created at the start.
)help";

constexpr int kWindowWords = 3000;  // the pass's window: the largest sample count
constexpr auto kStopWait = std::chrono::milliseconds(1500);

struct StreamOptions {
  std::string host;
  int port;
  bool udp;
  int udp_port;
  std::optional<double> seconds;
  std::optional<int64_t> words;
  std::string out;
};

// One run of the command as the cycle's face: the cycle and its POSIX ports, the run's figures,
// and what the run came to.
class StreamSession final : public ToolFace {
 public:
  explicit StreamSession(StreamOptions options);
  int Run();

  // The pass of a stream takes the window of the newest words, with the log step behind it.
  void RunPass() override;
  void Hear(const acquisition::CycleEvent& e) override;

 private:
  // False when the log cannot be created: nothing was started.
  bool Start();
  void Stream();
  void ShowProgress(uint64_t& words_before);
  void Stop();
  void Summarize();
  int Report() const;
  void Fail(const std::string& message) {
    if (!failure_) failure_ = message;
  }

  StreamOptions options_;
  acquisition::CaptureCycle cycle_{""};
  analysis::RunTracker tracker_;
  // The receiver's thread feeds the cycle's path, so it goes before the cycle does.
  acquisition::UdpReceiver udp_{cycle_.Path()};
  acquisition::UdpReceiverPort udp_port_{udp_};
  std::unique_ptr<acquisition::PulseData> window_ = std::make_unique<acquisition::PulseData>();
  std::unique_ptr<CycleRunner> runner_;
  bool started_ = false;
  std::optional<event::RunStopped> stopped_;
  analysis::RunSummary record_;
  std::optional<std::string> summary_path_;
  std::optional<std::string> failure_;  // why the run ends early
  Clock::time_point next_progress_ = Clock::now() + std::chrono::seconds(1);
};

StreamSession::StreamSession(StreamOptions options) : options_(std::move(options)) {
  cycle_.SetStreamLogPath(options_.out);
  cycle_.SetTransport(options_.udp ? acquisition::StreamTransport::kUdp
                                   : acquisition::StreamTransport::kTcp);
  cycle_.ResetRing();
  cycle_.Path().SetLogSink([this](std::span<const int64_t> deltas) { tracker_.Add(deltas); });
  udp_.SetPort(static_cast<uint16_t>(options_.udp_port));
  runner_ = std::make_unique<CycleRunner>(cycle_, *this, &udp_port_);
  acquisition::CycleInputs& settings = Settings();
  settings.host = options_.host;
  settings.port = std::to_string(options_.port);
  settings.samples_value = kWindowWords;
  settings.samples_text = std::to_string(kWindowWords);
}

void StreamSession::RunPass() {
  acquisition::CycleDriver& driver = runner_->Driver();
  driver.RunPass([&] { driver.TakeStreamWindow(kWindowWords, *window_); });
}

void StreamSession::Hear(const acquisition::CycleEvent& e) {
  if (const std::optional<std::string> message = acquisition::EventError(e)) {
    Fail(*message);
  } else if (std::holds_alternative<event::RunStarted>(e)) {
    started_ = true;
    tracker_.Begin(std::chrono::system_clock::now());
  } else if (auto* x = std::get_if<event::RunLive>(&e)) {
    // The summary beside the log described the log just replaced.
    try {
      persistence::RemoveRunSummary(x->log_path);
    } catch (const common::Error& error) {
      Fail(error.Message());
    }
  } else if (auto* x = std::get_if<event::RunStopped>(&e)) {
    // Summed up once the stop command is out: the figures may still be catching up.
    stopped_ = *x;
  }
}

bool StreamSession::Start() {
  Settings().stream = true;
  try {
    runner_->Driver().StreamToggled();
  } catch (const common::Error& error) {
    if (!started_) {
      std::cerr << Displayed(error.Message()) << '\n';
      return false;
    }
    Fail(error.Message());
  }
  return true;
}

void StreamSession::Stream() {
  const Clock::time_point begin = Clock::now();
  const Clock::time_point deadline =
      options_.seconds ? begin + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(*options_.seconds))
                       : Clock::time_point::max();
  uint64_t words_before = 0;
  bool acknowledged = false;
  try {
    while (!failure_ && !runner_->Interrupted() && Clock::now() < deadline &&
           cycle_.State() == acquisition::CycleState::kStreaming) {
      if (options_.words && cycle_.Path().WordsIn() >= static_cast<uint64_t>(*options_.words)) {
        break;
      }
      runner_->PollOnce(acquisition::kTickIntervalMs);
      acknowledged = acknowledged || cycle_.StreamBinary();
      // A TCP stream ends with its link: nothing more can come.
      if (acknowledged && !options_.udp && !runner_->Link().Active()) {
        Fail("The instrument closed the link");
      }
      ShowProgress(words_before);
    }
  } catch (const common::Error& error) {
    Fail(error.Message());
  }
}

void StreamSession::ShowProgress(uint64_t& words_before) {
  if (::isatty(STDERR_FILENO) == 0 || Clock::now() < next_progress_) return;
  const uint64_t words = cycle_.Path().WordsIn();
  const analysis::RunSummary so_far = tracker_.Summary();
  std::fprintf(stderr, "\rwords=%" PRIu64 " rate=%.0f/s lost=%" PRIu64 " missing=%" PRId64 "   ",
               words, static_cast<double>(words - words_before), cycle_.Path().LostWords(),
               so_far.missing_pulses);
  std::fflush(stderr);
  words_before = words;
  next_progress_ += std::chrono::seconds(1);
}

// Unchecking Stream (unless the cycle ended the run itself): the receiver stops, the tail is
// logged and the log closed; then the stop command goes out and its acknowledgement is waited
// for.
void StreamSession::Stop() {
  if (::isatty(STDERR_FILENO) != 0) std::fputs("\n", stderr);
  Settings().stream = false;
  try {
    if (cycle_.State() == acquisition::CycleState::kStreaming) runner_->Driver().StreamToggled();
    const Clock::time_point stop_deadline = Clock::now() + kStopWait;
    while (cycle_.State() != acquisition::CycleState::kIdle && Clock::now() < stop_deadline) {
      runner_->PollOnce(acquisition::kTickIntervalMs);
    }
  } catch (const common::Error& error) {
    Fail(error.Message());
  }
  runner_->Link().Close();
}

// The first failure of the log itself is the run's reason to end early; else the link's. A run
// that took no word leaves the previous summary as it was.
void StreamSession::Summarize() {
  if (!stopped_) return;
  if (!stopped_->failure.empty()) failure_ = stopped_->failure;
  if (!stopped_->logged) return;
  tracker_.SetLostWords(static_cast<int64_t>(stopped_->counts.lost_words));
  try {
    record_ = tracker_.Record(tracker_.Final(), std::chrono::system_clock::now(),
                              failure_.value_or(""), cycle_.Path().LogLines());
    record_.foreign_datagrams = static_cast<int64_t>(stopped_->counts.foreign_datagrams);
    record_.stray_bytes = static_cast<int64_t>(stopped_->counts.stray_bytes);
    summary_path_ = persistence::WriteRunSummary(stopped_->log_path, record_);
  } catch (const common::Error& error) {
    Fail(error.Message());
    std::cerr << Displayed(error.Message()) << '\n';
  }
}

int StreamSession::Report() const {
  const event::RunStopped none;
  const acquisition::StreamCounts& counts = stopped_ ? stopped_->counts : none.counts;
  std::printf("words=%" PRId64 "\nlost=%" PRIu64 "\nforeign_datagrams=%" PRIu64
              "\nstray_bytes=%" PRIu64 "\nmissing=%" PRId64 "\nextra=%" PRId64
              "\nmean_rate=%.3f\nsummary=%s\n",
              record_.words, counts.lost_words, counts.foreign_datagrams, counts.stray_bytes,
              record_.missing_pulses, record_.extra_pulses, record_.mean_rate,
              summary_path_.value_or("").c_str());
  if (!record_.ambiguous.empty()) std::printf("ambiguous=%s\n", record_.ambiguous.c_str());
  if (!failure_) return kExitDone;
  std::printf("ended_early=%s\n", failure_->c_str());
  std::fflush(stdout);
  std::cerr << Displayed(*failure_) << '\n';
  return kExitRunFailed;
}

int StreamSession::Run() {
  if (!Start()) return kExitBadStart;
  Stream();
  Stop();
  Summarize();
  return Report();
}

}  // namespace

std::string_view StreamUsage() { return kUsage; }
std::string_view StreamHelp() {
  static const std::string help = WithDefaultPorts(kHelp);
  return help;
}

StreamCommand::StreamCommand(CLI::App& app) {
  command_ = app.add_subcommand("stream", "Log the instrument's stream with its run summary");
  command_->add_option("--host", host_, "instrument address or name")->required();
  command_->add_option("--port", port_, WithDefaultPorts("instrument TCP port ({tcp})"))
      ->check(CLI::Range(1, 65535));
  command_->add_option("--transport", transport_, "udp or tcp")
      ->required()
      ->check(CLI::IsMember({"udp", "tcp"}));
  command_
      ->add_option("--udp-port", udp_port_, WithDefaultPorts("UDP port of the datagrams ({udp})"))
      ->check(CLI::Range(1, 65535));
  CLI::Option* seconds = command_->add_option("--seconds", seconds_, "run time in seconds")
                             ->check(CLI::PositiveNumber);
  CLI::Option* words =
      command_->add_option("--words", words_, "words to log")->check(CLI::PositiveNumber);
  seconds->excludes(words);
  command_->add_option("--out", out_, "stream log (stream.dat)");
  command_->footer("\n" + std::string(StreamHelp()));
}

int StreamCommand::Run() const {
  StreamSession session({host_, port_, transport_ == "udp", udp_port_, seconds_, words_, out_});
  return session.Run();
}

}  // namespace k390tool
