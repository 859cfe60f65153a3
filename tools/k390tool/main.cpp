// k390tool: the jitter figures of saved captures, the stream log resampling, the timing
// analysis (stability, jitter, phase) and the proving analysis (prove, spectrum, pattern),
// without a window. Other programs call it, so its arguments
// and its output lines are a fixed interface.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/pulse_data.h"
#include "analysis/processing_pass.h"
#include "capture_command.h"
#include "channel_commands.h"
#include "common/error.h"
#include "figure_lines.h"
#include "messages.h"
#include "output_check.h"
#include "persistence/jit_file.h"
#include "persistence/resample_file.h"
#include "persistence/text_file.h"
#include "proving_commands.h"
#include "stream_command.h"
#include "timing_commands.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;

constexpr std::string_view kUsageHelp = R"help(Usage:
  k390tool figures [--flight-ms MS] FILE...
  k390tool resample [STREAM_FILE [OUT_FILE]]
)help";

constexpr std::string_view kHelpUsage = R"help(  k390tool --help
  k390tool COMMAND --help
)help";

constexpr std::string_view kFiguresHelp =
    R"help(figures
  Runs the jitter processing pass once per FILE, in order, as the window does for a
  loaded or received capture. The held maximum of the P-P percentage and of the quality
  factor carry over from one file to the next.
  A FILE whose first line is exactly ";Sample,TDelta(x25ns)" or ";Sample,Frequency(Hz)"
  is a jitter data file (.JIT) and is loaded as the window's Load does: frequencies are
  turned into intervals of 25 ns ticks. Any other FILE holds the raw bytes of an
  instrument sample reply ("<SAMPLES>count1,count2</SAMPLES>" header line, then
  "index,stamp1,stamp2" records in hexadecimal, then "</K390>").
  --flight-ms MS  the flight time in milliseconds (digits only), as typed into the
                  Flight Time box: adds the pulse count and the quality factor.

  For each FILE it prints
    File=<FILE as given>
  then, for a reply that holds fewer records than its header announced (its figures are
  those of the records it holds),
    Warning=reply ended early: <held> of <announced> records
  then one NAME=TEXT line per figure box the pass wrote, in this order:
    Esampavg, Epkpos, Epkneg, Ejitpp, Ejitpp_pct, Ejitpp_max, Ejitrms, Ejitrms_pct,
    Eint1, Efreq1, Eint2, Efreq2
  and with --flight-ms, when the pass produced them:
    Lpcycles, Eprove_err, Epqf
  A pass that produces no figures prints instead
    NoFigures=<reason>
  with reason "no records", "too few records", "reply ended early" or
  "average not above 0".
)help";

constexpr std::string_view kResampleHelp = R"help(resample
  Smooths the stream log STREAM_FILE (default "stream.dat") into OUT_FILE (default
  "resampled.dat"), as the window does when Stream is unchecked. The log is read whole
  (CR LF, LF or a lone CR ends a line) before OUT_FILE is replaced through OUT_FILE.tmp;
  an OUT_FILE (or OUT_FILE.tmp) that is the log itself, under any name or link, is refused.
)help";

constexpr std::string_view kExitHelp =
    R"help(Exit status (capture and stream have their own, above): 0 on success. 2 when a file
cannot be read or written, when a value does not convert (the message is printed to
standard error as the window shows it) or when the arguments are wrong; the files after a
failing one are not processed.
)help";

// The whole tool's help: the usage lines, each command's part, the exit status.
std::string FullHelp() {
  std::string help(kUsageHelp);
  help += k390tool::TimingUsage();
  help += k390tool::ProvingUsage();
  help += k390tool::ChannelsUsage();
  help += k390tool::CaptureUsage();
  help += k390tool::StreamUsage();
  help += kHelpUsage;
  for (std::string_view part :
       {kFiguresHelp, kResampleHelp, k390tool::TimingHelp(), k390tool::ProvingHelp(),
        k390tool::ChannelsHelp(),
        k390tool::CaptureHelp(), k390tool::StreamHelp(), kExitHelp}) {
    help += '\n';
    help += part;
  }
  return help;
}

int Fail(const std::string& message) {
  std::cerr << k390tool::Displayed(message) << '\n';
  return kExitFailed;
}

int Usage(const std::string& problem) {
  std::cerr << "k390tool: " << problem << "\n\n" << FullHelp();
  return kExitFailed;
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

struct FiguresArgs {
  std::optional<std::string> flight_ms;
  std::vector<std::string> files;
};

int Figures(const FiguresArgs& args) {
  const std::optional<std::string>& flight_ms = args.flight_ms;
  const std::vector<std::string>& files = args.files;
  // One pass object for the whole run, as the window has one for its whole life.
  auto pass = std::make_unique<analysis::ProcessingPass>();
  for (const std::string& path : files) {
    std::cout << "File=" << path << '\n';
    try {
      const std::string content = persistence::ReadTextFile(path);
      const persistence::JitList loaded = persistence::ParseJit(content);
      const bool from_file = loaded.form != persistence::JitForm::kUnknown;
      if (loaded.Refused()) return Fail(*loaded.error);

      analysis::PassOptions options;
      options.view = loaded.form == persistence::JitForm::kFrequency
                         ? analysis::GraphView::kFrequency
                         : analysis::GraphView::kInterval;
      bool decoded = true;
      if (from_file) {
        pass->Load({loaded.PassValues(), loaded.pass_error});
        pass->DecodeLoaded();
      } else {
        decoded = pass->Decode(content);
      }
      k390tool::PrintReplyWarning(std::cout, pass->Data());
      const analysis::PassResult result = decoded ? pass->Compute(options) : analysis::PassResult{};
      if (result.outcome != analysis::PassOutcome::kFigures) {
        std::cout << "NoFigures=" << k390tool::NoFiguresReason(pass->Data(), decoded, from_file)
                  << '\n';
        continue;
      }
      const analysis::FlightFigures flight =
          pass->Flight({result.figures.ch1_seconds, flight_ms.value_or(""),
                        result.figures.peak_to_peak_percent});
      if (flight.error) return Fail(*flight.error);
      k390tool::PrintFigures(std::cout, result, flight_ms ? &flight : nullptr);
    } catch (const common::Error& e) {
      std::cout.flush();
      return Fail(e.what());
    }
  }
  return kExitOk;
}

struct ResampleArgs {
  std::string stream_path = "stream.dat";
  std::string out_path = "resampled.dat";
};

int Resample(const ResampleArgs& args) {
  try {
    k390tool::RefuseOutputThatIsInput(args.out_path,
                                      {{args.stream_path, "the stream log being read"}});
    persistence::ResampleLog(args.stream_path, args.out_path);
  } catch (const common::Error& e) {
    return Fail(e.Message());
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  // The whole tool's help comes first, as before the commands had their own.
  if (argc >= 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    std::cout << FullHelp();
    return kExitOk;
  }

  CLI::App app("Jitter figures and stream log tools for K390 captures", "k390tool");
  app.require_subcommand(1, 1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) { return std::string(e.what()); });

  FiguresArgs figures_args;
  CLI::App* figures = app.add_subcommand("figures", "Jitter figures of captures, as the window");
  figures
      ->add_option_function<std::string>(
          "--flight-ms",
          [&](const std::string& ms) {
            if (!IsDigits(ms)) throw CLI::ValidationError("--flight-ms takes digits only");
            figures_args.flight_ms = ms;
          },
          "flight time in milliseconds (digits only)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  figures->add_option("FILE", figures_args.files, ".JIT files or raw instrument replies")
      ->required();
  figures->footer(std::string("\n") + std::string(kFiguresHelp) + "\n" + std::string(kExitHelp));

  ResampleArgs resample_args;
  CLI::App* resample = app.add_subcommand("resample", "Smooth a stream log as the window does");
  resample->add_option("STREAM_FILE", resample_args.stream_path, "stream log (stream.dat)");
  resample->add_option("OUT_FILE", resample_args.out_path, "output (resampled.dat)");
  resample->footer(std::string("\n") + std::string(kResampleHelp) + "\n" + std::string(kExitHelp));

  const k390tool::TimingCommands timing(app, kExitHelp);
  const k390tool::ProvingCommands proving(app, kExitHelp);
  const k390tool::ChannelsCommand channels(app, kExitHelp);
  const k390tool::CaptureCommand capture(app);
  const k390tool::StreamCommand stream(app);

  const auto named = [&](CLI::App* command) { return command->check_name(argv[1]); };
  if (argc >= 2 && argv[1][0] != '-' && app.get_subcommands(named).empty()) {
    return Usage("unknown command " + std::string(argv[1]));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Usage(e.what());
  }
  if (figures->parsed()) return Figures(figures_args);
  if (resample->parsed()) return Resample(resample_args);
  if (const std::optional<int> status = timing.Run()) return *status;
  if (const std::optional<int> status = proving.Run()) return *status;
  if (const std::optional<int> status = channels.Run()) return *status;
  if (capture.Parsed()) return capture.Run();
  if (stream.Parsed()) return stream.Run();
  return Usage("no command given");
}
