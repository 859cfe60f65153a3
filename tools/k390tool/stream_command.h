#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/protocol.h"

// k390tool stream: the window's stream session without the window, logging every word to the
// stream log and leaving the run's summary beside it.
namespace k390tool {

std::string_view StreamUsage();
std::string_view StreamHelp();

class StreamCommand {
 public:
  explicit StreamCommand(CLI::App& app);
  bool Parsed() const { return command_->parsed(); }
  int Run() const;

 private:
  CLI::App* command_ = nullptr;
  std::string host_;
  int port_ = acquisition::kInstrumentTcpPort;
  std::string transport_;
  int udp_port_ = acquisition::kStreamUdpPort;
  std::optional<double> seconds_;
  std::optional<int64_t> words_;
  std::string out_ = "stream.dat";
};

}  // namespace k390tool
