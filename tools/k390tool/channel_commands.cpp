#include "channel_commands.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "common/convert.h"
#include "common/error.h"
#include "number_text.h"
#include "persistence/text_file.h"

namespace k390tool {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;

constexpr std::string_view kUsage = R"help(  k390tool channels [--window DEG] FILE
)help";

constexpr std::string_view kHelp = R"help(channels
  The two channels of a raw dual reply (as received, or DIR/capture-000k.reply kept by
  `capture --dual`): channel 1's stamps are those of records 0 to its header count - 1,
  channel 2's of records 0 to its own count - 1, so unequal counts are honoured. Each line
  is indexed by the pulse rule of the timing commands (its period, gaps and extra pulses;
  "Pulse input" in `k390tool --help`); where the rule merged an extra pulse beside a gridded
  one, the one nearer to where its neighbours put the slot stays. Pairing is by
  time, never by record index: record k holds the k-th stamp of each channel, so one pulse
  lost on channel 2 shifts every later channel 2 stamp by a record. The lines pair only
  when the ratio of their periods lies within 2 % (at most 0.25) of a whole number n or of
  1/n; each pulse of the slower line (channel 2 at one rate) is paired with the nearest
  pulse of the faster line (near antiphase, the one nearest half a period away), within
  half the faster line's period, one partner each. Only pulses inside the time span both
  channels cover are judged. It prints
    ratio=<channel 2's mean frequency over channel 1's>
    paired=<judged pairs>
    phase_mean_deg=, phase_pp_deg=, phase_rms_deg=   (channel 2 after channel 1, in
        degrees of channel 1's period, the mean in (-180, 180]; RMS about the mean)
    phase_drift_deg_per_s=<least-squares slope of the phase over the pair times>
    difference_mean_s=<mean of channel 2's stamp minus channel 1's, seconds>
    unpaired_ch1=<channel 1 pulses without a partner: a pulse lost on channel 2 or an
        extra one on channel 1>
    unpaired_ch2=<likewise for channel 2>
    sequence_errors=<pairs whose phase lies more than DEG from the mean phase, or, when
        the mean keeps an order (10 degrees or more from 0 and 180), on the other side of 0>
    direction=forward|reverse|mixed|none   (forward: channel 2 lags in every pair that
        shows an order, reverse: it leads, mixed: both seen, none: no pair within 10
        degrees of 0 or 180 shows one)
  then one line per error, in time order:
    error=<missing_ch1|missing_ch2|extra_ch1|extra_ch2|sequence>,<record index>,<time s>
  Which line lost or gained a pulse is told by the lines' own pulse rules: a pulse without
  a partner is missing on the other line when that line has a gap where the partner should
  be, extra on its own line otherwise. The record of a missing pulse is that of the first
  pulse after the gap on the line that lost it; of a sequence error, channel 2's record.
  Record indexes are decimal, from 0; times in seconds from the earliest stamp of the two
  lines. A figure without pairs is empty; lines that do not pair print
    not_paired=<why>
  after direction=, with paired=0. Where a line's indexing is not sound, a line
    Ambiguous=channel N: <why>
  goes to standard error.
  --window DEG  the phase window around the mean phase, degrees (default 45), above 0 and
                at most 180.
  A pair of lines catches a pulse lost or added on one line, a pair out of order and a
  phase that strays; it cannot see a pulse lost (or added) on both lines at once.
  A FILE that is no raw reply (a .JIT, a stream log) or whose reply has fewer than 2
  stamps on a channel is an error (status 2).
)help";

std::string Figure(const char* format, double value) { return PrintedOrEmpty(format, value); }

std::string_view NotPairedReason(analysis::PairingStatus status) {
  return status == analysis::PairingStatus::kRatioNotWhole
             ? "the rates are not near a whole number or its inverse"
             : "a line has too few pulses";
}

void SayAmbiguous(const analysis::ChannelPairing& pairing) {
  if (!pairing.ch1.ambiguous.empty())
    std::cerr << "Ambiguous=channel 1: " << pairing.ch1.ambiguous << '\n';
  if (!pairing.ch2.ambiguous.empty())
    std::cerr << "Ambiguous=channel 2: " << pairing.ch2.ambiguous << '\n';
}

}  // namespace

std::string_view ChannelsUsage() { return kUsage; }
std::string_view ChannelsHelp() { return kHelp; }

acquisition::DualStamps ReadDualStamps(const std::string& path) {
  const std::string content = persistence::ReadTextFile(path);
  const std::string_view first = std::string_view(content).substr(0, content.find_first_of("\r\n"));
  if (first.find("<SAMPLES>") == std::string_view::npos) {
    throw std::invalid_argument(path + ": not a raw sample reply (no <SAMPLES> header line)");
  }
  return acquisition::DecodeDualStamps(content);
}

std::string ChannelsText(const analysis::ChannelsReport& report) {
  const analysis::ChannelPairing& p = report.pairing;
  const analysis::SecurityCounts& c = report.security.counts;
  std::string out;
  out += "ratio=" + Figure("%.9g", p.ratio) + '\n';
  out += "paired=" + std::to_string(c.paired) + '\n';
  out += "phase_mean_deg=" + Figure("%.4f", p.phase.mean_deg) + '\n';
  out += "phase_pp_deg=" + Figure("%.4f", p.phase.pp_deg) + '\n';
  out += "phase_rms_deg=" + Figure("%.4f", p.phase.rms_deg) + '\n';
  out += "phase_drift_deg_per_s=" + Figure("%.6g", p.phase.drift_deg_per_s) + '\n';
  out += "difference_mean_s=" + Figure("%.6e", p.phase.difference_mean_s) + '\n';
  out += "unpaired_ch1=" + std::to_string(c.unpaired_ch1) + '\n';
  out += "unpaired_ch2=" + std::to_string(c.unpaired_ch2) + '\n';
  out += "sequence_errors=" + std::to_string(c.sequence_errors) + '\n';
  out += "direction=" + std::string(analysis::DirectionName(c.DirectionSeen())) + '\n';
  if (p.status != analysis::PairingStatus::kPaired) {
    out += "not_paired=" + std::string(NotPairedReason(p.status)) + '\n';
  }
  for (const analysis::ChannelErrorEntry& e : report.security.errors) {
    out += "error=" + std::string(analysis::ChannelErrorName(e.error)) + ',' +
           std::to_string(e.record) + ',' + Figure("%.9f", e.time_s) + '\n';
  }
  return out;
}

double WindowDegOf(const std::string& text) {
  try {
    const double value = common::StrToFloat(text);
    if (std::isfinite(value) && value > 0 && value <= 180) return value;
  } catch (const common::Error&) {
  }
  throw std::invalid_argument("--window " + text +
                              ": not a number of degrees above 0 and at most 180");
}

ChannelsCommand::ChannelsCommand(CLI::App& app, std::string_view exit_help) {
  command_ = app.add_subcommand("channels", "Pairing, phase and pulse security of a dual reply");
  command_->add_option("--window", window_, "phase window around the mean, degrees (45)");
  command_->add_option("FILE", file_, "raw dual reply")->required();
  command_->footer("\n" + std::string(kHelp) + '\n' + std::string(exit_help));
}

std::optional<int> ChannelsCommand::Run() const {
  if (!command_->parsed()) return std::nullopt;
  try {
    const double window = WindowDegOf(window_);
    const acquisition::DualStamps stamps = ReadDualStamps(file_);
    for (const auto& [name, line] : {std::pair{"1", &stamps.ch1}, std::pair{"2", &stamps.ch2}}) {
      if (line->size() < 2) {
        throw std::invalid_argument(file_ + ": channel " + name + " holds " +
                                    std::to_string(line->size()) +
                                    " stamps; at least 2 are needed");
      }
    }
    const analysis::ChannelsReport report =
        analysis::AnalyseChannels(stamps.ch1, stamps.ch2, window);
    std::cout << ChannelsText(report);
    std::cout.flush();
    SayAmbiguous(report.pairing);
  } catch (const common::Error& e) {
    const std::string message = e.Message();
    std::cerr << "k390tool: " << (message.rfind("line ", 0) == 0 ? file_ + ": " : "") << message
              << '\n';
    return kExitFailed;
  } catch (const std::invalid_argument& e) {
    std::cerr << "k390tool: " << e.what() << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace k390tool
