#include "timing_commands.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "analysis/pulse_train.h"
#include "analysis/stability.h"
#include "analysis/timing_input.h"
#include "analysis/timing_jitter.h"
#include "common/convert.h"
#include "common/error.h"
#include "output_check.h"
#include "persistence/jit_file.h"
#include "persistence/stability_csv.h"
#include "persistence/text_file.h"

namespace k390tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;
constexpr int64_t kFewestIntervals = 3;

constexpr std::string_view kUsage =
    R"help(  k390tool stability [--taus octave|all|M,M,...] [--phase|--freq] [--tau0 SECONDS]
                     [--stream] FILE
  k390tool jitter [--stream] FILE
  k390tool phase [--stream] FILE [OUT]
)help";

constexpr std::string_view kPulseInput =
    R"help(  Pulse input (the default): a FILE whose first line is one of the two .JIT headers is
  read as Load does (frequencies turned back into ticks); any other FILE is a raw
  instrument reply (its channel 1). --stream reads a stream log instead: every line after
  the first is an interval in ticks. Every value is read, however many there are.
  The nominal interval is the median; an interval shorter than half of it is merged into
  the next (one extra pulse each, a short last one dropped); an interval within a quarter
  nominal of r >= 2 nominals spans r - 1 missing pulses. tau0 = last stamp / last index.
  LF, CR LF and CR all end a line.
)help";

constexpr std::string_view kStabilityHelp =
    R"help(stability
  The Allan family of the phase, one CSV row per deviation and averaging factor m:
    deviation,af,tau_s,n,alpha,value,min,max
  deviation: adev, oadev, mdev, tdev, hdev, ohdev, tierms, mtie; af = m; tau_s = m tau0;
  n the terms (windows) used, leaving out every one that needs a missing pulse; alpha the
  noise exponent identified at m (-2 .. 2, empty when none); min and max the 68.3 %
  chi-squared bounds (empty where there are none). TDEV, TIE rms and MTIE in seconds.
  --taus octave   m = 1, 2, 4 ... while m <= K / 4 (K the last phase index; the default)
  --taus all      every m up to K / 4
  --taus M,M,...  these m as given; a row wherever there is a term
  --phase         FILE holds phase in seconds, one value a line ("#" lines skipped,
                  NaN a missing point)
  --freq          FILE holds fractional frequency one a line; the phase is its running
                  sum times tau0, from 0
  --tau0 SECONDS  the spacing of --phase or --freq values (default 1)
)help";

constexpr std::string_view kJitterHelp =
    R"help(jitter
  NAME=VALUE lines: Intervals (after extra pulses are merged), MissingPulses, ExtraPulses,
  NominalInterval (ticks), Tau0, PeriodJitterRms (standard deviation of the ordinary
  intervals), PeriodJitterPP, CycleToCycleMax and CycleToCycleRms (adjacent ordinary
  intervals), TiePP and TieRms (against the least-squares line through every pulse
  present); every figure after NominalInterval in seconds.
)help";

constexpr std::string_view kPhaseHelp =
    R"help(phase
  The phase x(k) = (t(k) - k tau0) of every index k in seconds, one a line, NaN where a
  pulse is missing; to OUT, or standard output without it. OUT is replaced only once it
  is written whole (through OUT.tmp); an OUT that is FILE itself, under any name or link,
  is refused and both are left as they were.
)help";

constexpr std::string_view kErrorsHelp =
    R"help(  Fewer than 3 intervals, a value that does not convert, a file that cannot be read or
  a bad option: a message naming the file and line (or the option) on standard error,
  exit status 2, nothing on standard output.
)help";

std::string Number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Where a reading error happened, in front of its message.
int Fail(const std::string& file, const std::string& message) {
  const bool at_line = message.rfind("line ", 0) == 0;
  std::cerr << "k390tool: " << (at_line ? file + ": " + message : message) << '\n';
  return kExitFailed;
}

// Every line of a text ending in LF, whatever ended it before.
std::string WithLfEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  analysis::ForEachLine(text, [&](int64_t, std::string_view line) {
    out.append(line);
    out += '\n';
  });
  return out;
}

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

std::vector<int64_t> PulseIntervals(const std::string& path, bool stream) {
  const std::string content = persistence::ReadTextFile(path);
  if (stream) return analysis::StreamLogIntervals(content);
  const std::string_view header = FirstLine(content);
  if (header != persistence::kIntervalHeader && header != persistence::kFrequencyHeader) {
    return analysis::ReplyIntervals(content);
  }
  persistence::JitList loaded = persistence::ParseJit(WithLfEnds(content));
  // Each line after the header gives one value, so the list's n-th value is line n + 1.
  std::vector<int64_t> intervals = std::move(loaded.ticks);
  if (loaded.error) {
    throw common::Error(
        analysis::LineMessage(static_cast<int64_t>(intervals.size()) + 2, *loaded.error));
  }
  return intervals;
}

analysis::PulseTrain PulseTrainOf(const std::string& path, bool stream) {
  std::vector<int64_t> intervals = PulseIntervals(path, stream);
  const auto count = static_cast<int64_t>(intervals.size());
  // Stamps are running sums in 64 bits; a run that could leave them is refused, not wrapped.
  __int128 span = 0;
  for (int64_t d : intervals) span += d < 0 ? -static_cast<__int128>(d) : d;
  if (span > (__int128{1} << 62)) {
    throw std::invalid_argument(path + ": the intervals add up to more than 2^62 ticks");
  }
  analysis::PulseTrain train = analysis::BuildPulseTrain(std::move(intervals));
  if (train.stamps.empty() && train.missing_pulses > 0) {
    throw std::invalid_argument(path + ": " + std::to_string(train.missing_pulses) +
                                " missing pulses among " + std::to_string(train.intervals) +
                                " intervals; at most " +
                                std::to_string(analysis::MostMissingPulses(train.intervals)) +
                                " are indexed");
  }
  if (count < kFewestIntervals || train.intervals < kFewestIntervals) {
    throw std::invalid_argument(path + ": " + std::to_string(train.intervals) +
                                " intervals after merging extra pulses (of " +
                                std::to_string(count) + " read); at least 3 are needed");
  }
  return train;
}

std::vector<int64_t> ParseTaus(const std::string& taus, int64_t last_index) {
  if (taus == "octave") return analysis::OctaveFactors(last_index);
  if (taus == "all") return analysis::AllFactors(last_index);
  std::vector<int64_t> factors;
  std::string_view rest = taus;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view text = rest.substr(0, comma);
    const std::optional<int32_t> m = common::TryStrToInt(text);
    if (!m || *m < 1 || text.front() == '+') {
      throw CLI::ValidationError("--taus", "'" + taus + "' is not octave, all or a list of m >= 1");
    }
    factors.push_back(*m);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return factors;
}

void PrintRows(const std::vector<analysis::StabilityRow>& rows) {
  std::cout << persistence::FormatStabilityCsv(analysis::TableRows(rows));
}

}  // namespace

std::string_view TimingUsage() { return kUsage; }

std::string_view TimingHelp() {
  static const std::string help = std::string(kStabilityHelp) + '\n' + std::string(kJitterHelp) +
                                  '\n' + std::string(kPhaseHelp) + '\n' + std::string(kPulseInput) +
                                  std::string(kErrorsHelp);
  return help;
}

TimingCommands::TimingCommands(CLI::App& app, std::string_view exit_help) {
  const auto footer = [&](std::string_view part) {
    return "\n" + std::string(part) + '\n' + std::string(kPulseInput) + std::string(kErrorsHelp) +
           '\n' + std::string(exit_help);
  };

  stability_ = app.add_subcommand("stability", "Allan family of the phase, with bounds, as CSV");
  stability_->add_option("--taus", taus_, "octave (default), all, or a list M,M,...")
      ->check([](const std::string& value) -> std::string {
        try {
          if (value != "octave" && value != "all") ParseTaus(value, 0);
        } catch (const CLI::ValidationError&) {
          return "'" + value + "' is not octave, all or a list of m >= 1";
        }
        return {};
      });
  CLI::Option* phase_flag = stability_->add_flag("--phase", phase_input_, "FILE holds phase, s");
  CLI::Option* freq_flag =
      stability_->add_flag("--freq", freq_input_, "FILE holds fractional frequency");
  phase_flag->excludes(freq_flag);
  stability_->add_option("--tau0", tau0_s_, "spacing of --phase or --freq values, s")
      ->check(CLI::PositiveNumber);
  CLI::Option* stability_stream = stability_->add_flag("--stream", stream_, "FILE is a stream log");
  stability_stream->excludes(phase_flag)->excludes(freq_flag);
  stability_->add_option("FILE", file_, "pulse data, stream log, phase or frequency")->required();
  stability_->footer(footer(kStabilityHelp));

  jitter_ = app.add_subcommand("jitter", "Period, cycle-to-cycle and TIE jitter of pulse data");
  jitter_->add_flag("--stream", stream_, "FILE is a stream log");
  jitter_->add_option("FILE", file_, "pulse data or stream log")->required();
  jitter_->footer(footer(kJitterHelp));

  phase_ = app.add_subcommand("phase", "Phase points of pulse data in seconds, NaN where missing");
  phase_->add_flag("--stream", stream_, "FILE is a stream log");
  phase_->add_option("FILE", file_, "pulse data or stream log")->required();
  phase_->add_option("OUT", out_, "output file (standard output without it)");
  phase_->footer(footer(kPhaseHelp));
}

std::optional<int> TimingCommands::Run() const {
  try {
    if (stability_->parsed()) return Stability();
    if (jitter_->parsed()) return Jitter();
    if (phase_->parsed()) return Phase();
  } catch (const common::Error& e) {
    return Fail(file_, e.Message());
  } catch (const std::invalid_argument& e) {
    return Fail(file_, e.what());
  } catch (const CLI::ValidationError& e) {
    return Fail(file_, e.what());
  }
  return std::nullopt;
}

int TimingCommands::Stability() const {
  if (tau0_s_ && !phase_input_ && !freq_input_) {
    throw std::invalid_argument("--tau0 " + Number("%g", *tau0_s_) +
                                ": only --phase and --freq input take a tau0");
  }
  if (!phase_input_ && !freq_input_) {
    const analysis::PulseTrain train = PulseTrainOf(file_, stream_);
    const std::vector<int64_t> factors = ParseTaus(taus_, train.LastIndex());
    PrintRows(analysis::StabilityTable(train, factors));
    return kExitOk;
  }
  const double tau0_s = tau0_s_.value_or(1.0);
  const std::vector<double> values = analysis::ValueLines(persistence::ReadTextFile(file_));
  std::vector<double> phase;
  if (freq_input_) {
    for (double y : values) {
      if (std::isnan(y)) throw std::invalid_argument(file_ + ": a frequency value is NaN");
    }
    phase = analysis::PhaseFromFrequency(values, tau0_s);
  } else {
    phase = values;
  }
  const auto intervals = static_cast<int64_t>(phase.size()) - 1;
  if (intervals < kFewestIntervals) {
    throw std::invalid_argument(file_ + ": " + std::to_string(values.size()) +
                                " values; at least 3 intervals are needed");
  }
  const std::vector<int64_t> factors = ParseTaus(taus_, intervals);
  PrintRows(analysis::StabilityTable(phase, tau0_s, factors));
  return kExitOk;
}

int TimingCommands::Jitter() const {
  const analysis::PulseTrain train = PulseTrainOf(file_, stream_);
  const analysis::TimingJitter j = analysis::ComputeTimingJitter(train);
  std::string out;
  out += "Intervals=" + std::to_string(j.intervals) + '\n';
  out += "MissingPulses=" + std::to_string(j.missing_pulses) + '\n';
  out += "ExtraPulses=" + std::to_string(j.extra_pulses) + '\n';
  out += "NominalInterval=" + Number("%.10g", j.nominal_ticks) + '\n';
  const std::pair<const char*, double> seconds[] = {
      {"Tau0", j.tau0_s},
      {"PeriodJitterRms", j.period_jitter_rms},
      {"PeriodJitterPP", j.period_jitter_pp},
      {"CycleToCycleMax", j.cycle_to_cycle_max},
      {"CycleToCycleRms", j.cycle_to_cycle_rms},
      {"TiePP", j.tie_pp},
      {"TieRms", j.tie_rms},
  };
  for (const auto& [name, value] : seconds)
    out += std::string(name) + '=' + Number("%.6e", value) + '\n';
  std::cout << out;
  return kExitOk;
}

int TimingCommands::Phase() const {
  if (!out_.empty()) RefuseOutputThatIsInput(out_, {{file_, "the pulse data being read"}});
  const analysis::PulseTrain train = PulseTrainOf(file_, stream_);
  std::string out;
  out.reserve(train.stamps.size() * 24);
  for (int64_t k = 0; k <= train.LastIndex(); ++k) {
    out += train.Present(k) ? Number("%.17g", train.PhaseSeconds(k)) : std::string("NaN");
    out += '\n';
  }
  if (out_.empty()) {
    std::cout << out;
  } else {
    persistence::ReplaceTextFile(out_, out);
  }
  return kExitOk;
}

}  // namespace k390tool
