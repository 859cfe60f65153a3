#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace common {

// An error that ends the handler in which it is raised. The window shows its message in the
// standard error display; the command-line tool prints it. The message is the operator's text.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "'<text>' is not a valid integer value"
std::string NotAnIntegerMessage(std::string_view text);

// "'<text>' is not a valid floating point value"
std::string NotAFloatMessage(std::string_view text);

// The I/O error of a file operation, e.g. Cannot open "/x/stream.dat": No such file or directory.
// `error_number` is an errno value; 0 reads as a plain I/O error.
Error FileError(std::string_view action, std::string_view path, int error_number);

inline constexpr std::string_view kDivisionByZero = "Floating point division by zero";
inline constexpr std::string_view kInvalidFloatOperation = "Invalid floating point operation";

}  // namespace common
