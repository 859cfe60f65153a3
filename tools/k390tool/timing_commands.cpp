#include "timing_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "analysis/phase_drift.h"
#include "analysis/channel_difference.h"
#include "analysis/limit_check.h"
#include "analysis/pulse_train.h"
#include "analysis/stability.h"
#include "analysis/timing_input.h"
#include "analysis/timing_jitter.h"
#include "channel_commands.h"
#include "common/convert.h"
#include "common/error.h"
#include "drift_option.h"
#include "number_text.h"
#include "output_check.h"
#include "persistence/jit_file.h"
#include "persistence/limit_lines.h"
#include "persistence/stability_csv.h"
#include "persistence/text_file.h"
#include "persistence/timing_files.h"

namespace k390tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;

constexpr std::string_view kUsage =
    R"help(  k390tool stability [--taus octave|all|M,M,...] [--phase|--freq] [--tau0 SECONDS]
                     [--stream | --channel 1|2 | --difference] [--limits LIMITS]
                     [--drift none|linear|quadratic] FILE
  k390tool jitter [--stream | --channel 1|2] [--drift none|linear|quadratic] FILE
  k390tool phase [--stream] FILE [OUT]
)help";

constexpr std::string_view kPulseInput =
    R"help(  Pulse input (the default): a FILE whose first line is one of the two .JIT headers is
  read as Load does (frequencies turned back into ticks); any other FILE is a raw
  instrument reply (its channel 1; --channel 2 takes its channel 2 instead, the stamps of
  records 0 to the header's channel 2 count - 1, and a FILE without them is an error).
  --stream reads a stream log instead: every line after the first is an interval in ticks.
  Every value is read, however many there are.
  LF, CR LF and CR all end a line.
  Pulses are indexed at any rate (periods from 8 ticks up), whatever the period's fraction
  of a tick. The period P is the sum of the intervals that span one period over their
  count, an exact ratio: first guessed from the median interval, then taken again from the
  one-period intervals found with it until nothing changes (intervals that took an extra
  pulse in are left out). An interval d spans r = round(d / P) periods: r - 1 pulses are
  missing inside it, however long the gap. An interval under P / 2 or of two periods may
  belong to an early or late pulse: it and one or two neighbours that span as many periods
  as there are of them, each inner pulse within 0.7 P of where the outer two put it, span
  one period each (of the windows that fit, the one with the most such intervals). Any other
  short interval is merged into the next (one extra pulse each; a short last interval is
  dropped). tau0 = last stamp / last index.
  Where the decision is not sound, an Ambiguous=<why> line says so (on standard output
  after the jitter lines; on standard error for stability and phase, so that their output
  stays clean): a period under 8 ticks, an RMS spread of the one-period intervals over
  P / 4, a gap longer than the pulses present fix the period to half a pulse (2 standard
  errors of P, taken as sqrt(gaps + 1) times the spread over the one-period count, times
  the gap's periods, at least P / 2), or a period that does not settle. It changes
  neither the other lines nor the exit status.
)help";

constexpr std::string_view kStabilityHelp =
    R"help(stability
  The Allan family of the phase, one CSV row per deviation and averaging factor m:
    deviation,af,tau_s,n,alpha,value,min,max
  deviation: adev, oadev, mdev, tdev, hdev, ohdev, tierms, mtie; af = m; tau_s = m tau0;
  n the terms (windows) used, leaving out every one that needs a missing pulse (a TIE rms
  term needs its two ends, an MTIE window every pulse in it). An MDEV term at start i
  is the mean of the second differences x(i+j+2m) - 2 x(i+j+m) + x(i+j), j = 0 .. m-1,
  whose three points are present, taken where at least half of the m are (n counts
  those starts); TDEV follows from MDEV. So MDEV reaches as far as OADEV over a pulse
  missing every few hundred; a window that is mostly gap is left out. alpha the
  noise exponent identified at m (-2 .. 2, empty when none); min and max the 68.3 %
  chi-squared bounds (empty where there are none). TDEV, TIE rms and MTIE in seconds.
  --taus octave   m = 1, 2, 4 ... while m <= K / 4 (K the last phase index; the default)
  --taus all      every m up to K / 4
  --taus M,M,...  these m as given; a row wherever there is a term
  --phase         FILE holds phase in seconds, one value a line ("#" lines skipped,
                  NaN a missing point)
  --freq          FILE holds fractional frequency one a line; the phase is its running
                  sum times tau0, from 0
  --tau0 SECONDS  the spacing of --phase or --freq values (default 1), finite and above 0
  --difference    FILE is a raw dual reply: the table of the time interval error of
                  channel 2 minus channel 1, one point per pulse of the slower line,
                  paired as `k390tool channels` pairs them: x = d - mean(d) in seconds (d
                  the pair's stamp difference), a missing point where a pulse has no
                  pair; tau0 the slower line's mean period. One clock stamps both lines,
                  so its own error cancels. Lines that do not pair are an error.
  --limits LIMITS a CSV of limit lines ("deviation,tau_s,limit" header, then one row per
                  point; "#" lines skipped; taus rising per deviation): after the table,
                    limit=PASS|FAIL
                  then per limit line, in the file's order,
                    limit_<deviation>=PASS|FAIL|NO_ROWS,checked=<rows>,worst_margin=<m>,
                        worst_tau_s=<tau>,first_failing_tau_s=<tau or empty>
                  (one line each). Between its points a limit runs straight on log-log
                  axes; every row whose tau lies within the line's taus is checked, in
                  every segment. margin = 1 - value / limit (negative above the limit);
                  the first failing tau is the smallest tau above its limit. NO_ROWS: no
                  row lies within the line's taus, and limit= is then FAIL. The exit
                  status stays 0 either way.
  A FILE too short for any row of the factors asked for is an error.
  With --drift (pulse input only) the table is that of the phase with the trend taken out,
  and the fitted trend's lines go to standard error, so that the output stays a clean CSV.
)help";

constexpr std::string_view kJitterHelp =
    R"help(jitter
  NAME=VALUE lines: Intervals (after extra pulses are merged), MissingPulses, ExtraPulses,
  NominalInterval (the period P, ticks), Tau0, PeriodJitterRms (standard deviation of the
  ordinary intervals: one period between neighbouring pulses, no extra pulse merged into
  them or their neighbours), PeriodJitterPP, CycleToCycleMax and CycleToCycleRms (adjacent
  ordinary intervals), TiePP and TieRms (against the least-squares line through every
  pulse present); every figure after NominalInterval in seconds. With --drift, TiePP and
  TieRms are those of the phase with that trend taken out, and the fitted trend's lines
  follow them. Then Ambiguous=<why> when the pulses' indexing is not sound. --channel 2:
  the same of channel 2 of a raw reply.
)help";

constexpr std::string_view kPhaseHelp =
    R"help(phase
  The phase x(k) = (t(k) - k tau0) of every index k in seconds, one a line, NaN where a
  pulse is missing (written as it goes: a long gap is a long run of NaN lines); to OUT, or
  standard output without it. OUT is replaced only once it is written whole (through
  OUT.tmp); an OUT that is FILE itself, under any name or link, is refused and both are
  left as they were.
)help";

constexpr std::string_view kErrorsHelp =
    R"help(  Fewer than 3 intervals, a value that does not convert, a file that cannot be read or
  a bad option (a --tau0 that is not a finite number above 0, a --taus m below 1, a
  --channel other than 1 or 2, a limit file that does not read): a message naming the
  file and line (or the option) on standard error, exit status 2, nothing on standard
  output.
)help";

std::string Number(const char* format, double value) { return Printed(format, value); }

// Where a reading error happened, in front of its message.
int Fail(const std::string& file, const std::string& message) {
  const bool at_line = message.rfind("line ", 0) == 0 || message.rfind("Reply line ", 0) == 0;
  std::cerr << "k390tool: " << (at_line ? file + ": " + message : message) << '\n';
  return kExitFailed;
}

// Channel 2 of a raw reply as intervals between its stamps.
std::vector<int64_t> Channel2Intervals(const std::string& path) {
  const std::vector<int64_t> stamps = ReadDualStamps(path).ch2;
  if (stamps.empty()) {
    throw std::invalid_argument(path +
                                ": the reply holds no channel 2 stamps (its header "
                                "counts none for channel 2)");
  }
  std::vector<int64_t> intervals;
  intervals.reserve(stamps.size());
  for (size_t i = 1; i < stamps.size(); ++i) intervals.push_back(stamps[i] - stamps[i - 1]);
  return intervals;
}

analysis::PulseTrain PulseTrainOf(const std::string& path, bool stream, int channel = 1) {
  const std::vector<int64_t> intervals =
      channel == 2 ? Channel2Intervals(path) : persistence::ReadPulseIntervals(path, stream);
  const auto count = static_cast<int64_t>(intervals.size());
  // Stamps are running sums in 64 bits; a run that could leave them is refused, not wrapped.
  __int128 span = 0;
  for (int64_t d : intervals) span += d < 0 ? -static_cast<__int128>(d) : d;
  if (span > (__int128{1} << 62)) {
    throw std::invalid_argument(path + ": the intervals add up to more than 2^62 ticks");
  }
  analysis::PulseTrain train = analysis::BuildPulseTrain(intervals);
  if (!analysis::EnoughTimingIntervals(train.intervals)) {
    throw std::invalid_argument(
        path + ": " + std::to_string(std::max<int64_t>(train.intervals, 0)) +
        " intervals after merging extra pulses (of " + std::to_string(count) + " read); at least " +
        std::to_string(analysis::kFewestTimingIntervals) + " are needed");
  }
  return train;
}

// The indexing's doubt, on its own line of standard error.
void SayAmbiguous(const analysis::PulseTrain& train) {
  if (!train.ambiguous.empty()) std::cerr << "Ambiguous=" << train.ambiguous << '\n';
}

// --tau0: a finite number of seconds above 0.
double Tau0Of(const std::string& text) {
  try {
    const double value = common::StrToFloat(text);
    if (std::isfinite(value) && value > 0) return value;
  } catch (const common::Error&) {
  }
  throw std::invalid_argument("--tau0 " + text + ": not a finite number of seconds above 0");
}

// Standard output, or OUT written a block at a time through OUT.tmp, which replaces OUT only once
// it is whole: a failure leaves OUT as it was.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path), temp_(path + ".tmp") {
    if (path_.empty()) return;
    errno = 0;
    file_ = std::fopen(temp_.c_str(), "wb");
    if (!file_) throw common::FileError("Cannot create", path_, errno ? errno : EIO);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (!file_) return;
    std::fclose(file_);
    std::remove(temp_.c_str());
  }
  std::string& Buffer() { return buffer_; }
  void Flush(bool last) {
    if (!last && buffer_.size() < kBlock) return;
    if (path_.empty()) {
      std::cout << buffer_;
      if (last) std::cout.flush();
      buffer_.clear();
      return;
    }
    errno = 0;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size() ||
        (last && std::fflush(file_) != 0)) {
      throw common::FileError("Cannot write", path_, errno ? errno : EIO);
    }
    buffer_.clear();
    if (!last) return;
    errno = 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed || std::rename(temp_.c_str(), path_.c_str()) != 0) {
      const int error = errno ? errno : EIO;
      std::remove(temp_.c_str());
      throw common::FileError(closed ? "Cannot create" : "Cannot write", path_, error);
    }
  }

 private:
  static constexpr size_t kBlock = size_t{1} << 20;
  std::string path_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  std::string buffer_;
};

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

// A table without rows tells nothing: the input is too short for the factors asked for.
void RefuseNoRows(const std::vector<analysis::StabilityRow>& rows, const std::string& what) {
  if (!rows.empty()) return;
  throw std::invalid_argument(what +
                              " give no stability row at these factors (m = 1 needs 4 "
                              "intervals)");
}

void PrintRows(const std::vector<analysis::StabilityRow>& rows) {
  std::cout << persistence::FormatStabilityCsv(rows);
}

struct TieFigures {
  double pp_s = 0;
  double rms_s = 0;
};

// Peak-to-peak and rms (over the points present) of a residual phase, seconds.
TieFigures TieOf(const std::vector<double>& phase_s) {
  double lo = INFINITY, hi = -INFINITY;
  long double sq = 0;
  int64_t n = 0;
  for (double x : phase_s) {
    if (std::isnan(x)) continue;
    lo = std::min(lo, x), hi = std::max(hi, x);
    sq += static_cast<long double>(x) * x;
    ++n;
  }
  if (n == 0) return {};
  return {hi - lo, static_cast<double>(std::sqrt(sq / static_cast<long double>(n)))};
}

std::string_view ResultName(analysis::LimitResult result) {
  switch (result) {
    case analysis::LimitResult::kPass:
      return "PASS";
    case analysis::LimitResult::kFail:
      return "FAIL";
    case analysis::LimitResult::kNoRows:
      break;
  }
  return "NO_ROWS";
}

std::string LimitText(const analysis::LimitsVerdict& verdict) {
  std::string out = std::string("limit=") + (verdict.pass ? "PASS" : "FAIL") + '\n';
  for (const analysis::LimitVerdict& line : verdict.lines) {
    out += "limit_" + std::string(analysis::DeviationName(line.deviation)) + '=' +
           std::string(ResultName(line.result)) + ",checked=" + std::to_string(line.checked) +
           ",worst_margin=" + (line.checked > 0 ? Number("%.6g", line.worst_margin) : "") +
           ",worst_tau_s=" + (line.checked > 0 ? Number("%.6g", line.worst_tau_s) : "") +
           ",first_failing_tau_s=" +
           (line.first_failing_tau_s ? Number("%.6g", *line.first_failing_tau_s) : "") + '\n';
  }
  return out;
}

// The phase stamps of both lines paired, for --difference.
analysis::ChannelPairing PairedLines(const std::string& path) {
  const acquisition::DualStamps stamps = ReadDualStamps(path);
  analysis::ChannelPairing pairing = analysis::PairChannels(stamps.ch1, stamps.ch2);
  if (pairing.status == analysis::PairingStatus::kTooFewPulses) {
    throw std::invalid_argument(path + ": a channel has too few stamps to pair (" +
                                std::to_string(stamps.ch1.size()) + " and " +
                                std::to_string(stamps.ch2.size()) + ")");
  }
  if (pairing.status == analysis::PairingStatus::kRatioNotWhole) {
    throw std::invalid_argument(path + ": the lines do not pair: their rates (ratio " +
                                Number("%.6g", pairing.ratio) +
                                ") are not near a whole number or its inverse");
  }
  return pairing;
}

}  // namespace

std::string_view TimingUsage() { return kUsage; }

std::string_view PulseInputHelp() {
  static const std::string help = std::string(kPulseInput) + std::string(kErrorsHelp);
  return help;
}

analysis::PulseTrain ReadPulseTrain(const std::string& path, bool stream) {
  return PulseTrainOf(path, stream);
}

std::string_view TimingHelp() {
  static const std::string help = std::string(kStabilityHelp) + '\n' + std::string(kJitterHelp) +
                                  '\n' + std::string(kPhaseHelp) + '\n' + std::string(kPulseInput) +
                                  std::string(DriftHelp()) + std::string(kErrorsHelp);
  return help;
}

TimingCommands::TimingCommands(CLI::App& app, std::string_view exit_help) {
  const auto footer = [&](std::string_view part, bool drift = true) {
    return "\n" + std::string(part) + '\n' + std::string(kPulseInput) +
           std::string(drift ? DriftHelp() : "") + std::string(kErrorsHelp) + '\n' +
           std::string(exit_help);
  };

  stability_ = app.add_subcommand("stability", "Allan family of the phase, with bounds, as CSV");
  // Values are checked when the command runs, so that a bad one gets one short message.
  stability_->add_option("--taus", taus_, "octave (default), all, or a list M,M,...");
  CLI::Option* phase_flag = stability_->add_flag("--phase", phase_input_, "FILE holds phase, s");
  CLI::Option* freq_flag =
      stability_->add_flag("--freq", freq_input_, "FILE holds fractional frequency");
  phase_flag->excludes(freq_flag);
  stability_->add_option("--tau0", tau0_text_, "spacing of --phase or --freq values, s");
  CLI::Option* stability_stream = stability_->add_flag("--stream", stream_, "FILE is a stream log");
  stability_stream->excludes(phase_flag)->excludes(freq_flag);
  stability_->add_option("--drift", drift_, "none, linear or quadratic trend taken out")
      ->excludes(phase_flag)
      ->excludes(freq_flag);
  CLI::Option* channel = stability_->add_option("--channel", channel_text_, "1 (default) or 2");
  channel->excludes(phase_flag)->excludes(freq_flag)->excludes(stability_stream);
  stability_->add_flag("--difference", difference_, "channel 2 minus channel 1 of a dual reply")
      ->excludes(phase_flag)
      ->excludes(freq_flag)
      ->excludes(stability_stream)
      ->excludes(channel);
  stability_->add_option("--limits", limits_, "CSV of limit lines: deviation,tau_s,limit");
  stability_->add_option("FILE", file_, "pulse data, stream log, phase or frequency")->required();
  stability_->footer(footer(kStabilityHelp));

  jitter_ = app.add_subcommand("jitter", "Period, cycle-to-cycle and TIE jitter of pulse data");
  CLI::Option* jitter_stream = jitter_->add_flag("--stream", stream_, "FILE is a stream log");
  jitter_->add_option("--channel", channel_text_, "1 (default) or 2")->excludes(jitter_stream);
  jitter_->add_option("--drift", drift_, "none, linear or quadratic trend taken out");
  jitter_->add_option("FILE", file_, "pulse data or stream log")->required();
  jitter_->footer(footer(kJitterHelp));

  phase_ = app.add_subcommand("phase", "Phase points of pulse data in seconds, NaN where missing");
  phase_->add_flag("--stream", stream_, "FILE is a stream log");
  phase_->add_option("FILE", file_, "pulse data or stream log")->required();
  phase_->add_option("OUT", out_, "output file (standard output without it)");
  phase_->footer(footer(kPhaseHelp, false));
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

int TimingCommands::Channel() const {
  if (!channel_text_) return 1;
  if (*channel_text_ == "1") return 1;
  if (*channel_text_ == "2") return 2;
  throw std::invalid_argument("--channel " + *channel_text_ + ": 1 or 2");
}

int TimingCommands::Stability() const {
  if (tau0_text_) Tau0Of(*tau0_text_);
  if (taus_ != "octave" && taus_ != "all") ParseTaus(taus_, 0);
  const int channel = Channel();
  if (tau0_text_ && !phase_input_ && !freq_input_) {
    throw std::invalid_argument("--tau0 " + *tau0_text_ +
                                ": only --phase and --freq input take a tau0");
  }
  // Read first, so that a limit file that does not read leaves standard output empty.
  std::vector<persistence::LimitLine> limits;
  if (limits_) limits = persistence::ReadLimitLines(*limits_, analysis::LimitDeviationNames());
  const std::optional<analysis::DriftRemoval> removal =
      drift_ ? std::optional(DriftRemovalOf(*drift_)) : std::nullopt;
  std::vector<analysis::StabilityRow> rows;
  std::optional<analysis::PulseTrain> train;
  std::string drift;
  if (difference_) {
    if (removal) throw std::invalid_argument("--drift: not with --difference");
    rows = DifferenceRows();
  } else if (phase_input_ || freq_input_) {
    rows = ValueRows();
  } else {
    train = PulseTrainOf(file_, stream_, channel);
    const std::vector<int64_t> factors = ParseTaus(taus_, train->LastIndex());
    if (removal) {
      const analysis::PhaseRecord phase = analysis::DetrendedPhase(train->View(), *removal);
      rows = analysis::StabilityTable(phase.phase_s, phase.tau0_s, factors);
      drift = DriftLines(*removal, phase.fit, LineStyle::kCamel);
    } else {
      rows = analysis::StabilityTable(*train, factors);
    }
    RefuseNoRows(rows, file_ + ": " + std::to_string(train->intervals) + " intervals");
  }
  PrintRows(rows);
  if (limits_) std::cout << LimitText(analysis::CheckLimits(rows, limits));
  std::cerr << drift;
  if (train) SayAmbiguous(*train);
  return kExitOk;
}

std::vector<analysis::StabilityRow> TimingCommands::ValueRows() const {
  const double tau0_s = tau0_text_ ? Tau0Of(*tau0_text_) : 1.0;
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
  if (!analysis::EnoughTimingIntervals(intervals)) {
    throw std::invalid_argument(
        file_ + ": " + std::to_string(values.size()) + " values; at least " +
        std::to_string(analysis::kFewestTimingIntervals) + " intervals are needed");
  }
  const std::vector<int64_t> factors = ParseTaus(taus_, intervals);
  std::vector<analysis::StabilityRow> rows = analysis::StabilityTable(phase, tau0_s, factors);
  RefuseNoRows(rows, file_ + ": " + std::to_string(values.size()) + " values");
  return rows;
}

std::vector<analysis::StabilityRow> TimingCommands::DifferenceRows() const {
  const analysis::DifferenceRecord record = analysis::DifferencePhase(PairedLines(file_));
  const auto intervals = static_cast<int64_t>(record.phase_s.size()) - 1;
  if (record.tau0_s <= 0 || !analysis::EnoughTimingIntervals(intervals)) {
    throw std::invalid_argument(file_ + ": " + std::to_string(std::max<int64_t>(intervals, 0)) +
                                " intervals of paired pulses; at least 3 are needed");
  }
  const std::vector<int64_t> factors = ParseTaus(taus_, intervals);
  std::vector<analysis::StabilityRow> rows =
      analysis::StabilityTable(record.phase_s, record.tau0_s, factors);
  RefuseNoRows(rows, file_ + ": " + std::to_string(intervals) + " paired intervals");
  return rows;
}

int TimingCommands::Jitter() const {
  const std::optional<analysis::DriftRemoval> removal =
      drift_ ? std::optional(DriftRemovalOf(*drift_)) : std::nullopt;
  const analysis::PulseTrain train = PulseTrainOf(file_, stream_, Channel());
  analysis::TimingJitter j = analysis::ComputeTimingJitter(train);
  std::string drift;
  if (removal) {
    const analysis::PhaseRecord phase = analysis::DetrendedPhase(train.View(), *removal);
    const TieFigures tie = TieOf(phase.phase_s);
    j.tie_pp = tie.pp_s;
    j.tie_rms = tie.rms_s;
    drift = DriftLines(*removal, phase.fit, LineStyle::kCamel);
  }
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
  out += drift;
  if (!j.ambiguous.empty()) out += "Ambiguous=" + j.ambiguous + '\n';
  std::cout << out;
  return kExitOk;
}

int TimingCommands::Phase() const {
  if (!out_.empty()) RefuseOutputThatIsInput(out_, {{file_, "the pulse data being read"}});
  const analysis::PulseTrain train = PulseTrainOf(file_, stream_);
  Output output(out_);
  std::string& out = output.Buffer();
  for (size_t i = 0; i < train.Pulses(); ++i) {
    // The missing indices before this pulse, however many.
    for (int64_t k = i == 0 ? 0 : train.index[i - 1] + 1; k < train.index[i]; ++k) {
      out += "NaN\n";
      output.Flush(false);
    }
    out += Number("%.17g", train.PhaseSeconds(i));
    out += '\n';
    output.Flush(false);
  }
  output.Flush(true);
  SayAmbiguous(train);
  return kExitOk;
}

}  // namespace k390tool
