#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

// The commands of k390tool that answer a metering engineer's questions about a pulse train:
// prove (how repeatable provings of a small-volume prover would be, and the shortest flight time
// at which they pass), spectrum (the jitter spectrum and its periodic lines) and pattern (the
// repeating pattern of a rotor's blades). Same inputs as jitter.
namespace k390tool {

// Their lines of the tool's usage, and their part of the whole help.
std::string_view ProvingUsage();
std::string_view ProvingHelp();

class ProvingCommands {
 public:
  // Adds the three commands to the tool's parser. `exit_help` ends each command's own help.
  ProvingCommands(CLI::App& app, std::string_view exit_help);

  // The exit status of the command the arguments chose; nullopt when they chose none of these.
  std::optional<int> Run() const;

 private:
  int Prove() const;
  int Spectrum() const;
  int Pattern() const;

  CLI::App* prove_ = nullptr;
  CLI::App* spectrum_ = nullptr;
  CLI::App* pattern_ = nullptr;

  // Values are kept as typed and checked when the command runs, so that a bad one gets one
  // short message naming it.
  std::optional<std::string> flight_ms_;
  std::optional<std::string> runs_;
  std::optional<std::string> passes_;
  std::optional<std::string> pause_ms_;
  std::optional<std::string> limit_;
  std::optional<std::string> segment_;
  std::optional<std::string> positions_;
  std::optional<std::string> drift_;
  bool without_pattern_ = false;
  bool stream_ = false;
  std::string file_;
};

}  // namespace k390tool
