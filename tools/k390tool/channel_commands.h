#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "acquisition/protocol.h"
#include "analysis/pulse_security.h"

// k390tool channels: the pairing of a dual reply's two channels, the phase between them and
// their pulse security; and the reading of a dual reply that the timing commands share.
namespace k390tool {

std::string_view ChannelsUsage();
std::string_view ChannelsHelp();

// The stamps of both channels of the raw reply in FILE (as received, or as `capture --dual`
// keeps it). Throws std::invalid_argument naming the file when it is no raw sample reply, and
// common::Error ("line N: ...") as DecodeDualStamps does.
acquisition::DualStamps ReadDualStamps(const std::string& path);

// The lines `channels` prints for one report (figures, counts, direction, then one line per
// error), each ending in LF.
std::string ChannelsText(const analysis::ChannelsReport& report);

// --window: a finite number of degrees above 0 and at most 180.
double WindowDegOf(const std::string& text);

class ChannelsCommand {
 public:
  // `exit_help` ends the command's own help.
  ChannelsCommand(CLI::App& app, std::string_view exit_help);
  // The exit status; nullopt when the arguments chose another command.
  std::optional<int> Run() const;

 private:
  CLI::App* command_ = nullptr;
  std::string window_ = "45";
  std::string file_;
};

}  // namespace k390tool
