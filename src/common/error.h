#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace common {

// An error that ends the handler in which it is raised. The window shows its message in the
// standard error display; the command-line tool prints it. The message is the operator's text,
// held with its length: read it through Message(), which never stops at a NUL byte as a C
// string would. Texts quoted from files or the wire go through Printable first, so what() is
// whole too.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message), message_(message) {}
  explicit Error(const char* message) : Error(std::string(message)) {}

  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The text with every byte an operator could not see or that would be lost on screen written as
// "\xNN" (two upper-case hex digits): control bytes (below 0x20, 0x7F, and the C1 range of
// UTF-8) and bytes that are not part of a well-formed UTF-8 character. Everything else stays as
// it is, so a message quotes a value whole: "7\x007" rather than a text cut at the NUL.
std::string Printable(std::string_view text);

// "'<text>' is not a valid integer value", the text made Printable.
std::string NotAnIntegerMessage(std::string_view text);

// "'<text>' is not a valid floating point value", the text made Printable.
std::string NotAFloatMessage(std::string_view text);

// The I/O error of a file operation, e.g. Cannot open "/x/stream.dat": No such file or directory.
// The path is made Printable. `error_number` is an errno value; 0 reads as a plain I/O error.
Error FileError(std::string_view action, std::string_view path, int error_number);

// "Host name not found: <name>", the name made Printable: a name the lookup could not turn into
// an IPv4 address, said as such rather than as the socket error its 0.0.0.0 would give.
std::string HostNotFoundMessage(std::string_view name);

// The instrument ended the conversation while a reply was due or AutoSample was to ask again.
inline constexpr std::string_view kLinkClosedByInstrument = "The instrument closed the link";

inline constexpr std::string_view kDivisionByZero = "Floating point division by zero";
inline constexpr std::string_view kInvalidFloatOperation = "Invalid floating point operation";

}  // namespace common
