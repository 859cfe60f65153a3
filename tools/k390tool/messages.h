#pragma once

#include <string>

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

}  // namespace k390tool
