#include "sim_protocol.h"

#include <algorithm>
#include <cstdio>

namespace k390sim {
namespace {

constexpr std::string_view kEndTag = "</K390>";
constexpr std::string_view kCh1Open = "<K390><CH1><HEXPULSE>";
constexpr std::string_view kCh1Close = "</HEXPULSE></CH1></K390>";
constexpr std::string_view kDualOpen = "<K390><HEXPULSE>";
constexpr std::string_view kDualClose = "</HEXPULSE></K390>";
constexpr std::string_view kStreamOpen = "<K390><STREAM>";
constexpr std::string_view kStreamClose = "</STREAM></K390>";

// The text between `open` and `close` when `text` is exactly open + inner + close.
bool Between(std::string_view text, std::string_view open, std::string_view close,
             std::string_view& inner) {
  if (text.size() < open.size() + close.size() || !text.starts_with(open) ||
      !text.ends_with(close)) {
    return false;
  }
  inner = text.substr(open.size(), text.size() - open.size() - close.size());
  return true;
}

std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

Request Invalid(std::string problem) {
  Request request;
  request.problem = std::move(problem);
  return request;
}

Request ParseSample(std::string_view count_text, bool dual) {
  if (count_text.empty()) return Invalid("empty sample count");
  int64_t count = 0;
  for (char c : count_text) {
    if (c < '0' || c > '9')
      return Invalid("sample count '" + Printable(count_text) + "' is not a decimal number");
    count = count * 10 + (c - '0');
    if (count > kMaxSamples) break;
  }
  if (count < 1 || count > kMaxSamples) {
    return Invalid("sample count " + Printable(count_text) + " is outside 1 to " +
                   std::to_string(kMaxSamples));
  }
  Request request;
  request.kind = RequestKind::kSample;
  request.dual = dual;
  request.count = count;
  return request;
}

void AppendHex(uint64_t value, std::string& out) {
  char digits[17];
  int length = std::snprintf(digits, sizeof digits, "%llX", static_cast<unsigned long long>(value));
  out.append(digits, static_cast<size_t>(length));
}

}  // namespace

size_t RequestLength(std::string_view rx) {
  size_t at = rx.find(kEndTag);
  return at == std::string_view::npos ? 0 : at + kEndTag.size();
}

Request ParseRequest(std::string_view text) {
  std::string_view inner;
  if (Between(text, kCh1Open, kCh1Close, inner)) return ParseSample(inner, false);
  if (Between(text, kDualOpen, kDualClose, inner)) return ParseSample(inner, true);
  if (Between(text, kStreamOpen, kStreamClose, inner)) {
    if (inner.size() != 1 || inner[0] < '0' || inner[0] > '2') {
      return Invalid("stream mode '" + Printable(inner) + "' is not 0, 1 or 2");
    }
    Request request;
    request.kind = RequestKind::kStream;
    request.mode = inner[0] - '0';
    return request;
  }
  return Invalid("unknown request '" + Printable(text) + "'");
}

std::string FormatSampleReply(std::span<const uint64_t> ch1, std::span<const uint64_t> ch2,
                              bool malformed, size_t records) {
  const bool dual = !ch2.empty();
  std::string reply = "<K390><SAMPLES>";
  AppendHex(ch1.size(), reply);
  reply += ',';
  AppendHex(dual ? ch2.size() : 0, reply);
  reply += "</SAMPLES>\r\n";
  reply.reserve(reply.size() + ch1.size() * 40 + kEndTag.size());
  const size_t broken = ch1.size() / 2;
  for (size_t i = 0; i < std::min(ch1.size(), records); ++i) {
    AppendHex(i, reply);
    reply += ',';
    AppendHex(ch1[i], reply);
    if (!(malformed && i == broken)) {
      reply += ',';
      AppendHex(dual && i < ch2.size() ? ch2[i] : 0, reply);
    }
    reply += "\r\n";
  }
  reply += kEndTag;
  return reply;
}

std::string FormatStreamAck(bool streaming) {
  std::string reply = "<K390><STREAM>\r\n";
  reply += streaming ? '1' : '0';
  reply += "\r\n</STREAM></K390>";
  return reply;
}

std::string FormatErrorReply(std::string_view problem) {
  // The problem often quotes the request; its tags must not end the reply early on the
  // receiving side, so angle brackets become square ones and the text is kept short.
  constexpr size_t kMaxProblem = 200;
  std::string text = Printable(problem.substr(0, kMaxProblem));
  for (char& c : text) {
    if (c == '<') c = '[';
    if (c == '>') c = ']';
  }
  std::string reply = "<K390><ERROR>";
  reply += text;
  reply += "</ERROR>\r\n</K390>";
  return reply;
}

void StreamWords::Emit(uint32_t word, std::vector<uint32_t>& out) {
  if (Finished()) return;
  out.push_back(word);
  ++words_sent_;
}

void StreamWords::AddPulse(uint64_t stamp, std::vector<uint32_t>& out) {
  ++pulses_;
  if (Finished()) return;
  if (shape_.drop_every > 0 && pulses_ % shape_.drop_every == 0) return;
  const auto word = static_cast<uint32_t>(stamp);
  Emit(word, out);
  ++distinct_words_;
  if (shape_.repeat_every > 0 && distinct_words_ % shape_.repeat_every == 0) Emit(word, out);
}

void AppendWordBytes(std::span<const uint32_t> words, std::string& out) {
  out.reserve(out.size() + words.size() * 4);
  for (uint32_t word : words) {
    out += static_cast<char>(word & 0xFF);
    out += static_cast<char>((word >> 8) & 0xFF);
    out += static_cast<char>((word >> 16) & 0xFF);
    out += static_cast<char>((word >> 24) & 0xFF);
  }
}

}  // namespace k390sim
