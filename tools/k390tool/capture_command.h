#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/protocol.h"

// k390tool capture: AutoSample without the window. Each block the instrument sends is saved as
// a .JIT file and its figures are printed as `k390tool figures` prints them.
namespace k390tool {

std::string_view CaptureUsage();
std::string_view CaptureHelp();

class CaptureCommand {
 public:
  explicit CaptureCommand(CLI::App& app);
  bool Parsed() const { return command_->parsed(); }
  int Run() const;

 private:
  CLI::App* command_ = nullptr;
  std::string host_;
  int port_ = acquisition::kInstrumentTcpPort;
  int samples_ = 50;
  bool dual_ = false;
  std::optional<int64_t> count_;
  std::optional<double> seconds_;
  std::string out_ = ".";
};

}  // namespace k390tool
