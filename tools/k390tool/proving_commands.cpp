#include "proving_commands.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "analysis/jitter_spectrum.h"
#include "analysis/phase_drift.h"
#include "analysis/proving.h"
#include "analysis/pulse_pattern.h"
#include "analysis/pulse_train.h"
#include "common/convert.h"
#include "common/error.h"
#include "drift_option.h"
#include "number_text.h"
#include "timing_commands.h"

namespace k390tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;
constexpr int64_t kFewestSpectrumPulses = 16;  // the spectrum's shortest record
constexpr int64_t kMostFoundPositions = 128;   // the largest pattern looked for

constexpr std::string_view kUsage =
    R"help(  k390tool prove [--flight-ms T[,T...]] [--runs N] [--passes M] [--pause-ms P]
                 [--limit PCT] [--without-pattern [--positions B]] [--stream] FILE
  k390tool spectrum [--segment N] [--drift none|linear|quadratic] [--stream] FILE
  k390tool pattern [--positions B] [--stream] FILE
)help";

constexpr std::string_view kProveHelp =
    R"help(prove
  Virtual proving: what a small-volume prover that reads these pulses by double
  chronometry would report, run after run, for each flight time T. One CSV row per T:
    flight_ms,provings,provings_with_gaps,mean_pulses,sd_pct,repeat_median_pct,
    repeat_p95_pct,pass_share,limit_pct
  then
    shortest_flight_ms_95=<T or none>
  the shortest T of the rows at which at least 95 % of the provings pass (a row's value,
  nothing interpolated), or none, and
    passing_from_ms_95=<T or none>
  the shortest T of the rows from which every longer one passes too: the two differ when
  a longer flight fails again (a pattern that only whole rotations of a rotor cancel).
  The rules. Pass j's first detector switch is at t0 + j (T + P), t0 the first pulse's
  stamp plus half the nominal interval (tau0), its second T later; the switches know
  nothing of the pulses. Each pass counts Nm whole pulses from the first pulse after its
  first switch to the first pulse after its second, Tp the time between those two pulses
  (exact whole ticks), and gives Ni = Nm T / Tp. A run averages the Ni of M consecutive
  passes; provings are the runs taken N at a time, in order, without overlap, and the runs
  after the last whole proving are dropped. A pass holds a gap when a pulse is missing or
  an extra pulse lies between the last pulse before its first switch and its stop pulse;
  a proving holding such a pass is counted only in provings_with_gaps and left out of
  every other figure. mean_pulses and sd_pct are over the runs of the provings counted in
  provings, sd_pct their sample standard deviation (n - 1) over their mean, in %. A
  proving's repeatability is (max - min) / min of its runs, in %: repeat_median_pct is the
  median over the provings, repeat_p95_pct the nearest-rank 95th percentile (the
  ceil(0.95 n)-th smallest). pass_share is the fraction (0 to 1) of provings whose
  repeatability is at or below limit_pct. The figures of a row with no proving counted
  are empty; a pass that counts no pulse (T shorter than the interval it falls in) makes
  its proving's repeatability inf.
  limit_pct is the range of N runs that holds the uncertainty of the average meter factor
  within +/-0.027 %: the value of the table published in the measurement standards where
  it has one (0.02, 0.03, 0.05, 0.06 % for N = 3 to 6, 0.12 for 10, 0.17 for 15, 0.22 for
  20), elsewhere the formula 0.027 % sqrt(N) d2(N) / t(0.975, N - 1) (d2 the expected range
  of N standard normal values, t Student's quantile); --limit overrides both.
  --flight-ms T[,T...]  flight times in ms, each a finite number above 0 (default: 30
                        values, log spaced, from 10 ms to the longest that leaves 20
                        provings in the record)
  --runs N              runs per proving, 2 or more (default 5)
  --passes M            passes averaged into a run, 1 or more (default 1)
  --pause-ms P          pause between passes in ms, 0 or more (default 0)
  --limit PCT           the repeatability limit in %, above 0
  --without-pattern     prove the record with its repeating pattern taken out of the
                        pulse edges (the pattern found as pattern finds it, or of
                        --positions B): what the pattern costs the provings. Adds
                        positions=B after the other lines.
  A record too short for the default scan, or for one proving at any T given, is an error.
)help";

constexpr std::string_view kSpectrumHelp =
    R"help(spectrum
  The amplitude spectrum of the time interval error (the phase with the trend of --drift
  taken out, linear by default), Welch-averaged over half-overlapping segments of N pulses
  under a Hann window, each segment's mean removed. One CSV row per frequency bin:
    freq_hz,amplitude_s
  the amplitude a sinusoid centred on that bin would have, in seconds. Then one line per
  periodic line above the noise floor, strongest first:
    line=<freq_hz>,<amplitude_s>,<amplitude_pct>,<divisor or empty>
  its frequency and the peak amplitude of the sinusoid in the edge times (both read from
  the peak bin and its larger neighbour, so a line between bins keeps its amplitude), that
  amplitude in % of the mean period, and B where the line lies within half a bin of the
  pulse rate / B (a pattern that repeats every B pulses). Then
    random_rms_s=<value>
  the rms of the time interval error with the lines taken out, and
    filled_points=<count>
  the missing pulses whose phase was filled in on the straight line between their present
  neighbours (a gap adds no line of its own); then the fitted trend's lines with --drift
  linear or quadratic.
  --segment N  pulses per segment, 16 or more, rounded down to an even number (default
               65536; the whole record when it is shorter)
  A record of fewer than 16 pulses is an error.
)help";

constexpr std::string_view kPatternHelp =
    R"help(pattern
  The repeating pattern of the intervals, as a turbine rotor of B blades makes it.
  Positions count pulses on the grid from the first pulse, missing ones included: position
  p holds the intervals from pulse k to pulse k + 1 with k mod B = p, both pulses present.
    positions=<B>
    pattern_pp_pct=<max - min of the deviations>
    residual_rms_ticks=<rms of the intervals less their position's mean, n - B>
    residual_pp_ticks=<their max - min>
  then the CSV rows
    position,deviation_pct
  each position's mean interval less the mean of the B means, in % of it.
  --positions B  the number of positions, 1 or more (default: the B from 2 to 128 whose
                 pattern best explains the intervals, by the Bayesian information
                 criterion; "positions=none" alone when none explains them better than a
                 constant)
)help";

std::string Number(const char* format, double value) { return PrintedOrEmpty(format, value); }

int Fail(const std::string& file, const std::string& message) {
  const bool at_line = message.rfind("line ", 0) == 0;
  std::cerr << "k390tool: " << (at_line ? file + ": " + message : message) << '\n';
  return kExitFailed;
}

// A number typed for `option`, finite and above 0 (or at least 0 with `zero_ok`).
double PositiveNumber(const std::string& option, const std::string& text, bool zero_ok,
                      const char* what) {
  try {
    const double value = common::StrToFloat(text);
    if (std::isfinite(value) && (value > 0 || (zero_ok && value == 0))) return value;
  } catch (const common::Error&) {
  }
  throw std::invalid_argument(option + " " + text + ": not " + what);
}

// A whole number typed for `option`, at least `least`.
int64_t WholeNumber(const std::string& option, const std::string& text, int64_t least,
                    const char* what) {
  try {
    const int64_t value = common::StrToInt64(text);
    if (value >= least && text.front() != '+') return value;
  } catch (const common::Error&) {
  }
  throw std::invalid_argument(option + " " + text + ": not " + what);
}

// The flight times of --flight-ms, seconds, in the order given.
std::vector<double> FlightTimes(const std::string& text) {
  std::vector<double> flights;
  size_t from = 0;
  while (true) {
    const size_t comma = text.find(',', from);
    const std::string one = text.substr(from, comma - from);
    flights.push_back(PositiveNumber("--flight-ms", one, false, "a finite number of ms above 0") /
                      1000);
    if (comma == std::string::npos) return flights;
    from = comma + 1;
  }
}

// The indexing's doubt, on its own line of standard error.
void SayAmbiguous(const analysis::PulseTrain& train) {
  if (!train.ambiguous.empty()) std::cerr << "Ambiguous=" << train.ambiguous << '\n';
}

std::string FlightMs(double flight_s) { return Number("%.6g", flight_s * 1000); }

// The scan as prove prints it: the CSV rows, then the shortest passing flight time.
std::string ProvingCsv(const analysis::ProvingScan& scan) {
  std::string out =
      "flight_ms,provings,provings_with_gaps,mean_pulses,sd_pct,repeat_median_pct,"
      "repeat_p95_pct,pass_share,limit_pct\n";
  for (const analysis::ProvingFigures& f : scan.rows) {
    out += FlightMs(f.flight_s) + ',' + std::to_string(f.provings) + ',' +
           std::to_string(f.provings_with_gaps) + ',' + Number("%.10g", f.mean_pulses) + ',' +
           Number("%.6g", f.sd_pct) + ',' + Number("%.6g", f.repeat_median_pct) + ',' +
           Number("%.6g", f.repeat_p95_pct) + ',' + Number("%.6g", f.pass_share) + ',' +
           Number("%.6g", f.limit_pct) + '\n';
  }
  const auto ms_or_none = [](const std::optional<double>& flight_s) {
    return flight_s ? FlightMs(*flight_s) : std::string("none");
  };
  out += "shortest_flight_ms_95=" + ms_or_none(scan.shortest_flight_s) + '\n';
  out += "passing_from_ms_95=" + ms_or_none(scan.passing_from_s) + '\n';
  return out;
}

// The positions of --positions, or those found in the train (none when no pattern is found).
std::optional<int64_t> PositionsOf(const std::optional<std::string>& typed,
                                   const analysis::TrainView& train) {
  if (typed) return WholeNumber("--positions", *typed, 1, "a whole number of positions from 1");
  return analysis::FindPatternPositions(train, kMostFoundPositions);
}

}  // namespace

std::string_view ProvingUsage() { return kUsage; }

std::string_view ProvingHelp() {
  static const std::string help = std::string(kProveHelp) + '\n' + std::string(kSpectrumHelp) +
                                  '\n' + std::string(kPatternHelp);
  return help;
}

ProvingCommands::ProvingCommands(CLI::App& app, std::string_view exit_help) {
  const auto footer = [&](std::string_view part, bool drift) {
    return "\n" + std::string(part) + '\n' + std::string(PulseInputHelp()) +
           std::string(drift ? DriftHelp() : "") + '\n' + std::string(exit_help);
  };
  const auto input = [&](CLI::App* command) {
    command->add_flag("--stream", stream_, "FILE is a stream log");
    command->add_option("FILE", file_, "pulse data or stream log")->required();
  };

  prove_ = app.add_subcommand("prove", "Virtual proving: repeatability against flight time");
  prove_->add_option("--flight-ms", flight_ms_, "flight times in ms, T[,T...]");
  prove_->add_option("--runs", runs_, "runs per proving (5)");
  prove_->add_option("--passes", passes_, "passes averaged into a run (1)");
  prove_->add_option("--pause-ms", pause_ms_, "pause between passes, ms (0)");
  prove_->add_option("--limit", limit_, "repeatability limit, %");
  CLI::Option* without =
      prove_->add_flag("--without-pattern", without_pattern_, "take the pattern out first");
  prove_->add_option("--positions", positions_, "pattern positions B")->needs(without);
  input(prove_);
  prove_->footer(footer(kProveHelp, false));

  spectrum_ = app.add_subcommand("spectrum", "Jitter spectrum of the TIE and its periodic lines");
  spectrum_->add_option("--segment", segment_, "pulses per Welch segment (65536)");
  spectrum_->add_option("--drift", drift_, "none, linear (default) or quadratic trend taken out");
  input(spectrum_);
  spectrum_->footer(footer(kSpectrumHelp, true));

  pattern_ = app.add_subcommand("pattern", "Repeating pattern of the intervals (rotor blades)");
  pattern_->add_option("--positions", positions_, "positions B (found when not given)");
  input(pattern_);
  pattern_->footer(footer(kPatternHelp, false));
}

std::optional<int> ProvingCommands::Run() const {
  try {
    if (prove_->parsed()) return Prove();
    if (spectrum_->parsed()) return Spectrum();
    if (pattern_->parsed()) return Pattern();
  } catch (const common::Error& e) {
    return Fail(file_, e.Message());
  } catch (const std::invalid_argument& e) {
    return Fail(file_, e.what());
  }
  return std::nullopt;
}

int ProvingCommands::Prove() const {
  analysis::ProvingOptions options;
  if (runs_) {
    options.runs = static_cast<int>(
        WholeNumber("--runs", *runs_, 2, "a whole number of runs from 2 (a proving needs 2)"));
  }
  if (passes_) {
    options.passes =
        static_cast<int>(WholeNumber("--passes", *passes_, 1, "a whole number of passes from 1"));
  }
  if (pause_ms_) {
    options.pause_s =
        PositiveNumber("--pause-ms", *pause_ms_, true, "a finite number of ms, 0 or more") / 1000;
  }
  if (limit_) options.limit_pct = PositiveNumber("--limit", *limit_, false, "a finite % above 0");
  const std::vector<double> flights = flight_ms_ ? FlightTimes(*flight_ms_) : std::vector<double>{};
  const analysis::PulseTrain train = ReadPulseTrain(file_, stream_);
  const analysis::TrainView view = train.View();
  std::optional<int64_t> positions;
  if (without_pattern_) {
    positions = PositionsOf(positions_, view);
    if (!positions) {
      throw std::invalid_argument(file_ + ": no repeating pattern found; give --positions B");
    }
  }
  const std::vector<double> scanned =
      flight_ms_ ? flights : analysis::DefaultFlightTimes(view, options);
  if (scanned.empty()) {
    throw std::invalid_argument(file_ + ": too short for the default scan (20 provings of " +
                                std::to_string(options.runs * options.passes) +
                                " passes of 10 ms or more)");
  }
  const analysis::ProvingScan scan =
      positions ? analysis::ScanProvingWithoutPattern(
                      view, analysis::ComputePulsePattern(view, *positions), scanned, options)
                : analysis::ScanProving(view, scanned, options);
  bool any = false;
  for (const analysis::ProvingFigures& f : scan.rows) any |= f.provings + f.provings_with_gaps > 0;
  if (!any)
    throw std::invalid_argument(file_ + ": too short for one proving at these flight times");
  std::cout << ProvingCsv(scan);
  if (positions) std::cout << "positions=" << *positions << '\n';
  SayAmbiguous(train);
  return kExitOk;
}

int ProvingCommands::Spectrum() const {
  analysis::SpectrumOptions options;
  if (segment_) {
    options.segment = WholeNumber("--segment", *segment_, kFewestSpectrumPulses,
                                  "a whole number of pulses from 16");
  }
  const analysis::DriftRemoval removal =
      drift_ ? DriftRemovalOf(*drift_) : analysis::DriftRemoval::kLinear;
  const analysis::PulseTrain train = ReadPulseTrain(file_, stream_);
  const analysis::PhaseRecord phase = analysis::DetrendedPhase(train.View(), removal);
  const analysis::JitterSpectrum s =
      analysis::ComputeJitterSpectrum(phase.phase_s, phase.tau0_s, options);
  if (s.amplitude_s.empty()) {
    throw std::invalid_argument(file_ + ": " + std::to_string(phase.phase_s.size()) +
                                " grid points; the spectrum needs at least 16");
  }
  std::string out = "freq_hz,amplitude_s\n";
  for (size_t k = 0; k < s.amplitude_s.size(); ++k) {
    out += Number("%.10g", s.FrequencyHz(k)) + ',' + Number("%.6e", s.amplitude_s[k]) + '\n';
  }
  for (const analysis::SpectrumLine& line : s.lines) {
    out += "line=" + Number("%.10g", line.freq_hz) + ',' + Number("%.6e", line.amplitude_s) + ',' +
           Number("%.6g", line.amplitude_pct) + ',' +
           (line.divisor ? std::to_string(*line.divisor) : std::string()) + '\n';
  }
  out += "random_rms_s=" + Number("%.6e", s.random_rms_s) + '\n';
  out += "filled_points=" + std::to_string(s.filled_points) + '\n';
  if (drift_) out += DriftLines(removal, phase.fit, LineStyle::kSnake);
  std::cout << out;
  SayAmbiguous(train);
  return kExitOk;
}

int ProvingCommands::Pattern() const {
  if (positions_) PositionsOf(positions_, {});  // a bad value is refused before the file is read
  const analysis::PulseTrain train = ReadPulseTrain(file_, stream_);
  const std::optional<int64_t> positions = PositionsOf(positions_, train.View());
  if (!positions) {
    std::cout << "positions=none\n";
    SayAmbiguous(train);
    return kExitOk;
  }
  const analysis::PulsePattern p = analysis::ComputePulsePattern(train.View(), *positions);
  std::string out = "positions=" + std::to_string(p.positions) + '\n';
  out += "pattern_pp_pct=" + Number("%.6g", p.pattern_pp_pct) + '\n';
  out += "residual_rms_ticks=" + Number("%.6g", p.residual_rms_ticks) + '\n';
  out += "residual_pp_ticks=" + Number("%.6g", p.residual_pp_ticks) + '\n';
  out += "position,deviation_pct\n";
  for (size_t i = 0; i < p.deviation_pct.size(); ++i) {
    out += std::to_string(i) + ',' + Number("%.6g", p.deviation_pct[i]) + '\n';
  }
  std::cout << out;
  SayAmbiguous(train);
  return kExitOk;
}

}  // namespace k390tool
