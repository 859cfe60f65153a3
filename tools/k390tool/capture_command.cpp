#include "capture_command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <variant>
#include <vector>

#include "acquisition/capture_cycle.h"
#include "analysis/channel_run.h"
#include "analysis/processing_pass.h"
#include "common/error.h"
#include "cycle_runner.h"
#include "figure_lines.h"
#include "messages.h"
#include "persistence/channel_summary.h"
#include "persistence/jit_file.h"
#include "persistence/text_file.h"

namespace k390tool {
namespace {

namespace fs = std::filesystem;
namespace event = acquisition::event;

constexpr std::string_view kUsage =
    R"help(  k390tool capture --host H [--port P] [--samples N] [--dual] [--count K | --seconds S]
                   [--out DIR]
)help";

constexpr std::string_view kHelp = R"help(capture
  AutoSample without the window: asks the instrument at H:P (default port {tcp}) for blocks
  of N stamps (10 to 3000, default 50; --dual for both channels) as the window's AutoSample
  does, one request after each reply, each reply within 4 s. Stops after K blocks (default
  1) or, with --seconds, when S seconds have passed (a reply still on its way is dropped).
  Block k is saved as DIR/capture-000k.JIT (default DIR ".", created when missing) in the
  interval form of the window's Save, and printed as `k390tool figures` prints a file:
    File=DIR/capture-000k.JIT
  then the figure lines or NoFigures=<reason>. A reply that holds fewer records than its
  header announced is taken for the records it holds (nothing else is saved or counted), and
  a line after File= says so:
    Warning=reply ended early: <held> of <announced> records
  The held maxima (Ejitpp_max) carry over from block to block. A block file is replaced only
  once it is written whole (through DIR/capture-000k.JIT.tmp).
  With --dual each block's reply is also kept as received, DIR/capture-000k.reply (both
  channels' stamps, for `k390tool channels` and `--channel 2` / `--difference` later), a
  line after the block's figures names it:
    Reply=DIR/capture-000k.reply
  and the block's two channels are paired and judged as `k390tool channels` does (window
  45 degrees). Their counts add up over the run in DIR/capture.summary.json, replaced after
  every block (so a run cut short keeps its totals so far); the run's last line names it:
    Summary=DIR/capture.summary.json
  Its fields: start and stop (UTC), window_deg, blocks, blocks_not_paired (too few pulses,
  or rates that keep no whole ratio), blocks_with_errors, paired, unpaired_ch1,
  unpaired_ch2, missing_ch1, missing_ch2, extra_ch1, extra_ch2, sequence_errors, lagging
  and leading (pairs with channel 2 after or before channel 1 by 10 to 170 degrees),
  direction (forward, reverse, mixed or none over the run), phase_mean_min_deg and
  phase_mean_max_deg (the range of the blocks' mean phases), and errors: the run's first
  100 errors as {block, error, record, time_s}, block from 1, record and time within it. SIGINT or SIGTERM ends the run
  at once, the blocks so far kept (status 0).
  Exit status: 0 done; 1 as soon as the run cannot go on, whatever --count or --seconds say:
  no reply within 4 s ("No reply within 4000 ms"), the instrument closing the link ("The
  instrument closed the link"), a host name that does not resolve ("Host name not found: H"),
  a refused or failed link ("Asynchronous socket error N", N the system's error number, 111
  refused), a reply that does not decode or a block that cannot be saved; 2 bad arguments or
  a DIR that cannot be created or written to ("Cannot write to DIR"). The message goes to
  standard error.
)help";

constexpr std::string_view kTimeoutMessage = "No reply within 4000 ms";

std::string BlockPath(const std::string& dir, int64_t block) {
  char name[48];  // room for any int64_t
  std::snprintf(name, sizeof name, "capture-%04lld.JIT", static_cast<long long>(block));
  return (fs::path(dir) / name).string();
}

// The intervals the interval chart draws after a pass, which is what Save writes.
std::vector<double> DrawnIntervals(const acquisition::PulseData& data) {
  const int64_t last = std::min<int64_t>(data.Ch1Count - 1, acquisition::kMaxIntervals);
  if (last <= 0) return {};
  return {data.Ch1Intervals.begin() + 1, data.Ch1Intervals.begin() + 1 + last};
}

// A folder the blocks can go to, or the reason there is none: one that cannot be made, or one
// that is there but takes no files.
std::optional<std::string> PrepareFolder(const std::string& dir) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (!error && !fs::is_directory(dir, error))
    error = std::make_error_code(std::errc::not_a_directory);
  if (error) return "Cannot create \"" + common::Printable(dir) + "\": " + error.message();
  if (::access(dir.c_str(), W_OK) != 0) {
    return common::FileError("Cannot write to", dir, errno).Message();
  }
  return std::nullopt;
}

std::chrono::steady_clock::time_point Deadline(std::optional<double> seconds) {
  if (!seconds) return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() +
         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
             std::chrono::duration<double>(*seconds));
}

// One reply's pass: the block saved whole, then printed as `k390tool figures` prints that file.
void SaveBlock(analysis::ProcessingPass& pass, const std::string& reply, const std::string& path) {
  const bool decoded = pass.Decode(reply);
  const analysis::PassResult result = decoded ? pass.Compute({}) : analysis::PassResult{};
  const std::vector<double> saved = decoded ? DrawnIntervals(pass.Data()) : std::vector<double>{};
  persistence::ReplaceTextFile(path, persistence::FormatJit(saved, true));
  std::cout << "File=" << path << '\n';
  PrintReplyWarning(std::cout, pass.Data());
  if (result.outcome == analysis::PassOutcome::kFigures) {
    PrintFigures(std::cout, result);
  } else {
    std::cout << "NoFigures=" << NoFiguresReason(pass.Data(), decoded, false) << '\n';
  }
  std::cout.flush();
}

// A dual block's reply kept as received, and its two channels added to the run's totals, which
// are written again beside the blocks.
class ChannelTotals {
 public:
  explicit ChannelTotals(std::string out) : out_(std::move(out)) {
    record_.start = std::chrono::system_clock::now();
    record_.window_deg = analysis::kDefaultPhaseWindowDeg;
  }

  void Add(const std::string& reply, const std::string& block_path) {
    const std::string path = fs::path(block_path).replace_extension(".reply").string();
    persistence::ReplaceTextFile(path, reply);
    const acquisition::DualStamps stamps = acquisition::DecodeDualStamps(reply);
    record_.totals.Add(analysis::AnalyseChannels(stamps.ch1, stamps.ch2, record_.window_deg));
    record_.stop = std::chrono::system_clock::now();
    summary_ = persistence::WriteChannelSummary(out_, record_);
    std::cout << "Reply=" << path << '\n';
    std::cout.flush();
  }
  const std::optional<std::string>& SummaryPath() const { return summary_; }

 private:
  std::string out_;
  persistence::ChannelSummaryRecord record_;
  std::optional<std::string> summary_;
};

// The run as the cycle's face: each reply's pass saves and prints a block; the first failure
// that comes before the last block, or a reply timeout, ends it.
class CaptureRun final : public ToolFace {
 public:
  CaptureRun(std::string out, int64_t wanted, bool dual) : out_(std::move(out)), wanted_(wanted) {
    if (dual) channels_.emplace(out_);
  }
  void Attach(CycleRunner& runner) { runner_ = &runner; }

  void RunPass() override {
    acquisition::CycleDriver& driver = runner_->Driver();
    driver.RunPass([&] {
      const std::string path = BlockPath(out_, ++blocks_);
      SaveBlock(*pass_, driver.Cycle().RxBuffer(), path);
      if (channels_) channels_->Add(driver.Cycle().RxBuffer(), path);
    });
  }
  // The summary a dual run wrote, none before its first block.
  std::optional<std::string> SummaryPath() const {
    return channels_ ? channels_->SummaryPath() : std::nullopt;
  }
  void Hear(const acquisition::CycleEvent& e) override {
    if (std::holds_alternative<event::ReplyTimedOut>(e)) timed_out_ = true;
    if (std::holds_alternative<event::AutoSampleStarted>(e)) pass_->ResetQualityPeak();
    // What the link meets once every block asked for is in (the instrument closing after the
    // last reply) is no failure of the run.
    const std::optional<std::string> message = acquisition::EventError(e);
    if (message && !failure_ && blocks_ < wanted_) failure_ = *message;
  }

  // Polls until the blocks are in, the time is up or the run cannot go on.
  void Capture(std::chrono::steady_clock::time_point deadline) {
    try {
      runner_->Driver().AutoSampleToggled();
      while (!failure_ && !timed_out_ && !runner_->Interrupted() && blocks_ < wanted_ &&
             std::chrono::steady_clock::now() < deadline) {
        runner_->PollOnce(acquisition::kTickIntervalMs);
      }
    } catch (const common::Error& error) {
      if (!failure_) failure_ = error.Message();
    }
  }
  std::optional<std::string> Failure() const {
    if (timed_out_ && !failure_) return std::string(kTimeoutMessage);
    return failure_;
  }

 private:
  std::string out_;
  int64_t wanted_;
  CycleRunner* runner_ = nullptr;
  // One pass object for the whole run, as the window has one for its whole life.
  std::unique_ptr<analysis::ProcessingPass> pass_ = std::make_unique<analysis::ProcessingPass>();
  int64_t blocks_ = 0;
  bool timed_out_ = false;
  std::optional<std::string> failure_;
  std::optional<ChannelTotals> channels_;
};

}  // namespace

std::string_view CaptureUsage() { return kUsage; }
std::string_view CaptureHelp() {
  static const std::string help = WithDefaultPorts(kHelp);
  return help;
}

CaptureCommand::CaptureCommand(CLI::App& app) {
  command_ = app.add_subcommand("capture", "AutoSample blocks saved as .JIT, with their figures");
  command_->add_option("--host", host_, "instrument address or name")->required();
  command_->add_option("--port", port_, WithDefaultPorts("instrument TCP port ({tcp})"))
      ->check(CLI::Range(1, 65535));
  command_->add_option("--samples", samples_, "stamps per block, 10 to 3000 (50)")
      ->check(CLI::Range(acquisition::kMinSamples, 3000));
  command_->add_flag("--dual", dual_, "both channels, each reply kept, run totals of the two");
  CLI::Option* count =
      command_->add_option("--count", count_, "blocks (1)")->check(CLI::PositiveNumber);
  CLI::Option* seconds = command_->add_option("--seconds", seconds_, "run time in seconds")
                             ->check(CLI::PositiveNumber);
  count->excludes(seconds);
  command_->add_option("--out", out_, "folder of the .JIT files (.)");
  command_->footer("\n" + std::string(CaptureHelp()));
}

int CaptureCommand::Run() const {
  if (const std::optional<std::string> problem = PrepareFolder(out_)) {
    std::cerr << Displayed(*problem) << '\n';
    return kExitBadStart;
  }
  acquisition::CaptureCycle cycle(out_ + "/");
  CaptureRun run(out_, count_.value_or(seconds_ ? INT64_MAX : 1), dual_);
  CycleRunner runner(cycle, run);
  run.Attach(runner);
  acquisition::CycleInputs& settings = run.Settings();
  settings.host = host_;
  settings.port = std::to_string(port_);
  settings.samples_text = std::to_string(samples_);
  settings.samples_value = samples_;
  settings.dual = dual_;
  settings.auto_sample = true;
  run.Capture(Deadline(seconds_));
  // Switching AutoSample off ends the cycle as the operator would; the link goes with the run.
  settings.auto_sample = false;
  try {
    runner.Driver().AutoSampleToggled();
  } catch (const common::Error&) {
  }
  runner.Link().Close();
  if (const std::optional<std::string> summary = run.SummaryPath()) {
    std::cout << "Summary=" << *summary << '\n';
  }
  if (const std::optional<std::string> failure = run.Failure()) {
    std::cout.flush();
    std::cerr << Displayed(*failure) << '\n';
    return kExitRunFailed;
  }
  return kExitDone;
}

}  // namespace k390tool
