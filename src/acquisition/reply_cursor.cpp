#include "acquisition/reply_cursor.h"

#include "acquisition/protocol.h"
#include "common/convert.h"
#include "common/error.h"

namespace acquisition {
namespace {

// Bytes from `from` up to (not including) `to`, empty when `to` was not found or lies before
// `from`. The header counts are cut at positions found independently of each other, so a
// missing or misplaced comma or end tag gives an empty count text, which then fails conversion.
std::string_view Cut(std::string_view text, size_t from, size_t to) {
  if (to == std::string_view::npos || from >= to) return {};
  return text.substr(from, to - from);
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::string ReplyFault::Text() const {
  return "Reply line " + std::to_string(line) + ", " + field + ": " + message;
}

size_t ReplyCursor::NextByte::From(std::string_view text, size_t from) {
  if (!searched || (found != std::string_view::npos && found < from)) {
    found = text.find(c, from);
    searched = true;
  }
  return found;
}

ReplyCursor::ReplyCursor(std::string_view text, ReplyFraming framing,
                         std::vector<std::string>* lines_met)
    : text_(text), framing_(framing), lines_met_(lines_met) {}

std::optional<std::string_view> ReplyCursor::NextLinkLine() {
  if (pos_ >= text_.size()) return std::nullopt;
  const size_t cr = cr_.From(text_, pos_);
  const size_t lf = lf_.From(text_, pos_);
  if (cr == std::string_view::npos || lf == std::string_view::npos) {
    if (lines_met_ != nullptr) lines_met_->emplace_back(text_.substr(pos_));
    pos_ = text_.size();
    return std::nullopt;
  }
  const std::string_view line = text_.substr(pos_, cr - pos_);
  pos_ = lf + 1;
  return line;
}

std::optional<std::string_view> ReplyCursor::NextFileLine() {
  if (pos_ >= text_.size()) return std::nullopt;
  size_t end = text_.find_first_of("\r\n", pos_);
  if (end == std::string_view::npos) end = text_.size();
  const std::string_view line = text_.substr(pos_, end - pos_);
  pos_ = end + 1;
  if (end < text_.size() && text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') {
    ++pos_;
  }
  return line;
}

std::optional<std::string_view> ReplyCursor::NextLine() {
  if (ended_) return std::nullopt;
  const std::optional<std::string_view> line =
      framing_ == ReplyFraming::kLink ? NextLinkLine() : NextFileLine();
  if (!line) {
    ended_ = true;
    return std::nullopt;
  }
  ++line_;
  if (lines_met_ != nullptr) lines_met_->emplace_back(*line);
  return line;
}

template <class Convert>
bool ReplyCursor::Field(std::string_view text, const char* name, Convert convert, int64_t& out) {
  try {
    out = convert(text);
    return true;
  } catch (const common::Error& e) {
    fault_ = ReplyFault{line_, name, e.Message()};
    ended_ = true;
    return false;
  }
}

ReplyHeader ReplyCursor::ReadHeader() {
  const std::optional<std::string_view> line = NextLine();
  if (!line) return ReplyHeader::kNoLine;
  const size_t tag = line->find(kSamplesTag);
  if (tag == std::string_view::npos) {
    ended_ = true;
    return ReplyHeader::kNotSamples;
  }
  const size_t comma = line->find(',');
  const size_t end_tag = line->find(kSamplesEndTag);
  const size_t count2_from = comma == std::string_view::npos ? 0 : comma + 1;
  int64_t count1 = 0;
  int64_t count2 = 0;
  if (!Field(Cut(*line, tag + kSamplesTag.size(), comma), "count 1", common::HexToInt32, count1) ||
      !Field(Cut(*line, count2_from, end_tag), "count 2", common::HexToInt32, count2)) {
    return ReplyHeader::kFault;
  }
  count1_ = static_cast<int32_t>(count1);
  count2_ = static_cast<int32_t>(count2);
  return ReplyHeader::kCounts;
}

std::optional<ReplyRecord> ReplyCursor::Next() {
  while (const std::optional<std::string_view> line = NextLine()) {
    if (framing_ == ReplyFraming::kFile) {
      if (line->find(kEndTag) != std::string_view::npos) {
        ended_ = true;
        return std::nullopt;
      }
      if (IsBlank(*line)) continue;
    }
    std::string_view fields = *line;
    ReplyRecord record;
    if (!Field(PopField(fields), "index", common::HexToInt32, record.index)) return std::nullopt;
    if (record.index != held_) continue;
    if (!Field(PopField(fields), "stamp 1", common::HexToInt64, record.stamp1) ||
        !Field(PopField(fields), "stamp 2", common::HexToInt64, record.stamp2)) {
      return std::nullopt;
    }
    ++held_;
    return record;
  }
  return std::nullopt;
}

void ReplyCursor::ThrowFault() const {
  if (fault_) throw common::Error(fault_->Text());
}

}  // namespace acquisition
