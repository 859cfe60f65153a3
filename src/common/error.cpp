#include "common/error.h"

#include <cstring>

namespace common {
namespace {

void AppendEscape(std::string& out, unsigned char byte) {
  constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed UTF-8 character at the front of `text`, 0 when it is not one.
// Overlong forms, surrogates and code points past U+10FFFF are not well-formed.
size_t Utf8Length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  const auto second = static_cast<unsigned char>(text[1]);
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!IsContinuation(static_cast<unsigned char>(text[i]))) return 0;
  }
  return length;
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if (byte < 0x20 || byte == 0x7F) {
        AppendEscape(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    const size_t length = Utf8Length(text.substr(i));
    // U+0080 to U+009F are control characters too; they show as their two bytes.
    const bool c1_control =
        length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (length == 0 || c1_control) {
      AppendEscape(out, byte);
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

namespace {

// Built by appending: GCC 12 warns falsely (-Wrestrict) on a literal + std::string at -O3.
std::string Quoted(std::string_view text, std::string_view rest) {
  std::string message(1, '\'');
  message += Printable(text);
  message += '\'';
  message += rest;
  return message;
}

}  // namespace

std::string NotAnIntegerMessage(std::string_view text) {
  return Quoted(text, " is not a valid integer value");
}

std::string NotAFloatMessage(std::string_view text) {
  return Quoted(text, " is not a valid floating point value");
}

std::string HostNotFoundMessage(std::string_view name) {
  return "Host name not found: " + Printable(name);
}

Error FileError(std::string_view action, std::string_view path, int error_number) {
  std::string message(action);
  message += " \"";
  message += Printable(path);
  message += "\": ";
  message += error_number != 0 ? std::strerror(error_number) : "I/O error";
  return Error(message);
}

}  // namespace common
