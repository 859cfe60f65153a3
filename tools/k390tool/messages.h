#pragma once

#include <string>
#include <string_view>

#include "acquisition/protocol.h"

namespace k390tool {

// The exit statuses of the commands that talk to the instrument.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRunFailed = 1;  // a timeout, a link failure, a write failure mid-run
inline constexpr int kExitBadStart = 2;   // bad arguments, an output that cannot be created

// The message as the window's error display shows it: a full stop is added after a last
// character above ".".
inline std::string Displayed(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

// The text with the instrument's default ports written in place of "{tcp}" and
// "{udp}", for the help texts.
inline std::string WithDefaultPorts(std::string_view text) {
  std::string filled(text);
  const auto fill = [&](std::string_view name, uint16_t port) {
    for (size_t at = filled.find(name); at != std::string::npos; at = filled.find(name, at)) {
      filled.replace(at, name.size(), std::to_string(port));
    }
  };
  fill("{tcp}", acquisition::kInstrumentTcpPort);
  fill("{udp}", acquisition::kStreamUdpPort);
  return filled;
}

}  // namespace k390tool
