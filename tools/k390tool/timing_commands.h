#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/pulse_train.h"
#include "analysis/stability.h"

// The timing commands of k390tool: stability (the Allan family with bounds, as CSV), jitter
// (the period, cycle-to-cycle and TIE figures) and phase (the phase points for other tools).
namespace k390tool {

// Their lines of the tool's usage, and their part of the whole help.
std::string_view TimingUsage();
std::string_view TimingHelp();

// The help on the pulse input and the input errors, shared by every command that reads pulses.
std::string_view PulseInputHelp();

// The indexed pulse train of FILE as the timing commands read it: a .JIT file or a raw reply,
// or a stream log with `stream`. Throws common::Error (a reading error, its message starting
// "line N: ") or std::invalid_argument (fewer than 3 intervals, stamps beyond 2^62 ticks).
analysis::PulseTrain ReadPulseTrain(const std::string& path, bool stream);

class TimingCommands {
 public:
  // Adds the three commands to the tool's parser. `exit_help` ends each command's own help.
  TimingCommands(CLI::App& app, std::string_view exit_help);

  // The exit status of the command the arguments chose; nullopt when they chose none of these.
  std::optional<int> Run() const;

 private:
  int Stability() const;
  int Jitter() const;
  int Phase() const;
  int Channel() const;
  std::vector<analysis::StabilityRow> ValueRows() const;
  std::vector<analysis::StabilityRow> DifferenceRows() const;

  CLI::App* stability_ = nullptr;
  CLI::App* jitter_ = nullptr;
  CLI::App* phase_ = nullptr;

  std::string taus_ = "octave";
  bool phase_input_ = false;
  bool freq_input_ = false;
  std::optional<std::string> tau0_text_;
  bool stream_ = false;
  std::optional<std::string> channel_text_;
  bool difference_ = false;
  std::optional<std::string> limits_;
  std::string file_;
  std::string out_;
  std::optional<std::string> drift_;
};

}  // namespace k390tool
