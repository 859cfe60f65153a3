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

namespace step = acquisition::step;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kUsage =
    R"help(  k390tool stream --host H [--port P] --transport udp|tcp [--udp-port U]
                  [--seconds S | --words N] [--out FILE]
)help";

constexpr std::string_view kHelp = R"help(stream
  The window's stream session without the window: opens the log FILE (default
  "stream.dat"), sends the stream command to the instrument at H:P (default port 38253) for
  UDP datagrams to port U of this machine (default 38257; the first datagram of a start is
  dropped, as the window drops it) or for words on the TCP link, logs every word as the
  window logs it (one delta in ticks a line, CR LF), and at the stop sends the stop command
  and writes the run's summary beside the log (FILE's extension replaced by .summary.json,
  added when FILE has none).
  Runs until N words have entered the log (a few more may follow before the stop takes
  effect), S seconds have passed, or SIGINT or SIGTERM arrives: each is a normal stop.
  While standard error is a terminal, a line once a second shows the words so far, the
  word rate, and the lost words and missing pulses. At the end, always:
    words=<words the log took>
    lost=<words lost before the log>
    missing=<missing pulses>
    extra=<extra pulses>
    mean_rate=<words per second of instrument time>
    summary=<the summary file>
  and, when the run ended before it was asked to, ended_early=<why>.
  Exit status: 0 done (also after SIGINT or SIGTERM); 1 the link refused or failed
  ("Asynchronous socket error N", 111 refused, 110 no answer), the UDP port in use ("UDP
  port U is in use by another program"), the instrument closing the link of a TCP stream
  ("The instrument closed the link"), a log write that failed mid-run (the disk full): the
  log keeps what was written, the summary says why the run ended early; 2 bad arguments or
  a log that cannot be created at the start.
)help";

constexpr int kWindowWords = 3000;  // the pass's window: the largest sample count
constexpr auto kStopWait = std::chrono::milliseconds(1500);

}  // namespace

std::string_view StreamUsage() { return kUsage; }
std::string_view StreamHelp() { return kHelp; }

StreamCommand::StreamCommand(CLI::App& app) {
  command_ = app.add_subcommand("stream", "Log the instrument's stream with its run summary");
  command_->add_option("--host", host_, "instrument address or name")->required();
  command_->add_option("--port", port_, "instrument TCP port (38253)")->check(CLI::Range(1, 65535));
  command_->add_option("--transport", transport_, "udp or tcp")
      ->required()
      ->check(CLI::IsMember({"udp", "tcp"}));
  command_->add_option("--udp-port", udp_port_, "UDP port of the datagrams (38257)")
      ->check(CLI::Range(1, 65535));
  CLI::Option* seconds = command_->add_option("--seconds", seconds_, "run time in seconds")
                             ->check(CLI::PositiveNumber);
  CLI::Option* words =
      command_->add_option("--words", words_, "words to log")->check(CLI::PositiveNumber);
  seconds->excludes(words);
  command_->add_option("--out", out_, "stream log (stream.dat)");
  command_->footer("\n" + std::string(kHelp));
}

int StreamCommand::Run() const {
  acquisition::CaptureCycle cycle("");
  cycle.SetStreamLogPath(out_);
  cycle.SetTransport(transport_ == "udp" ? acquisition::StreamTransport::kUdp
                                         : acquisition::StreamTransport::kTcp);
  cycle.ResetRing();
  analysis::RunTracker tracker;
  cycle.Path().SetLogSink([&tracker](std::span<const int64_t> deltas) { tracker.Add(deltas); });
  // The receiver's thread feeds the cycle's path, so it goes before the cycle does.
  acquisition::UdpReceiver udp(cycle.Path());
  udp.SetPort(static_cast<uint16_t>(udp_port_));
  auto window = std::make_unique<acquisition::PulseData>();

  bool started = false;
  std::optional<step::RunStopped> stopped;
  persistence::RunSummaryRecord record;
  std::optional<std::string> summary_path;
  std::optional<std::string> failure;  // why the run ends early

  // The first failure of the log itself is the run's reason to end early; else the link's.
  auto write_summary = [&](const std::string& log_path, const std::string& log_failure) {
    if (!log_failure.empty()) failure = log_failure;
    tracker.SetLostWords(static_cast<int64_t>(cycle.Path().LostWords()));
    try {
      record = tracker.Record(tracker.Final(), std::chrono::system_clock::now(),
                              failure.value_or(""), cycle.Path().LogLines());
      summary_path = persistence::WriteRunSummary(log_path, record);
    } catch (const common::Error& error) {
      if (!failure) failure = error.Message();
      std::cerr << Displayed(error.Message()) << '\n';
    }
  };

  std::unique_ptr<CycleRunner> runner;
  RunnerHooks hooks;
  hooks.udp_active = [&](bool on) { udp.SetActive(on); };
  hooks.run_pass = [&] { runner->Apply(cycle.TakeStreamWindow(kWindowWords, *window)); };
  hooks.show_error = [&](const std::string& message) {
    if (!failure) failure = message;
  };
  hooks.other = [&](const acquisition::CycleStep& s) {
    if (std::holds_alternative<step::RunStarted>(s)) {
      started = true;
      tracker.Begin(std::chrono::system_clock::now());
    } else if (auto* x = std::get_if<step::RunStopped>(&s)) {
      // Summed up once the stop command is out: the figures may still be catching up.
      stopped = *x;
    }
  };
  runner = std::make_unique<CycleRunner>(cycle, hooks);
  acquisition::CycleInputs& controls = runner->Controls();
  controls.host = host_;
  controls.port = std::to_string(port_);
  controls.samples_value = kWindowWords;
  controls.samples_text = std::to_string(kWindowWords);
  controls.stream = true;

  try {
    runner->Carry(cycle.StreamToggled(runner->Inputs()));
  } catch (const common::Error& error) {
    if (!started) {
      std::cerr << Displayed(error.Message()) << '\n';
      return kExitBadStart;
    }
    failure = error.Message();
  }

  const Clock::time_point begin = Clock::now();
  const Clock::time_point deadline = seconds_
                                         ? begin + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(*seconds_))
                                         : Clock::time_point::max();
  const bool progress = ::isatty(STDERR_FILENO) != 0;
  Clock::time_point next_progress = begin + std::chrono::seconds(1);
  uint64_t words_at_progress = 0;
  bool acknowledged = false;
  try {
    while (!failure && !runner->Interrupted() && Clock::now() < deadline) {
      if (words_ && cycle.Path().WordsIn() >= static_cast<uint64_t>(*words_)) break;
      runner->PollOnce(acquisition::kTickIntervalMs);
      acknowledged = acknowledged || cycle.StreamBinary();
      // A TCP stream ends with its link: nothing more can come.
      if (acknowledged && transport_ == "tcp" && !runner->Link().Active() && !failure) {
        failure = "The instrument closed the link";
      }
      if (progress && Clock::now() >= next_progress) {
        const uint64_t words = cycle.Path().WordsIn();
        const uint64_t lost = cycle.Path().LostWords();
        const analysis::RunSummary so_far = tracker.Summary();
        std::fprintf(
            stderr, "\rwords=%" PRIu64 " rate=%.0f/s lost=%" PRIu64 " missing=%" PRId64 "   ",
            words, static_cast<double>(words - words_at_progress), lost, so_far.missing_pulses);
        std::fflush(stderr);
        words_at_progress = words;
        next_progress += std::chrono::seconds(1);
      }
    }
  } catch (const common::Error& error) {
    if (!failure) failure = error.Message();
  }
  if (progress) std::fputs("\n", stderr);

  // Unchecking Stream: the receiver stops, the tail is logged, the log closed, the summary
  // written; then the stop command goes out and its acknowledgement is waited for.
  controls.stream = false;
  try {
    runner->Carry(cycle.StreamToggled(runner->Inputs()));
    const Clock::time_point stop_deadline = Clock::now() + kStopWait;
    while (cycle.State() != acquisition::CycleState::kIdle && Clock::now() < stop_deadline) {
      runner->PollOnce(acquisition::kTickIntervalMs);
    }
  } catch (const common::Error& error) {
    if (!failure) failure = error.Message();
  }
  runner->Link().Close();
  if (started) {
    write_summary(stopped ? stopped->log_path : out_, stopped ? stopped->failure : "");
  }

  std::printf("words=%" PRId64 "\nlost=%" PRId64 "\nmissing=%" PRId64 "\nextra=%" PRId64
              "\nmean_rate=%.3f\nsummary=%s\n",
              record.words, record.lost_words, record.missing_pulses, record.extra_pulses,
              record.mean_rate, summary_path.value_or("").c_str());
  if (failure) {
    std::printf("ended_early=%s\n", failure->c_str());
    std::fflush(stdout);
    std::cerr << Displayed(*failure) << '\n';
    return kExitRunFailed;
  }
  return kExitDone;
}

}  // namespace k390tool
