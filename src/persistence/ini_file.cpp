#include "persistence/ini_file.h"

#include <filesystem>
#include <system_error>

#include "common/error.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool QuotedAtBothEnds(std::string_view text) {
  return text.size() >= 2 && IsQuote(text.front()) && text.front() == text.back();
}

// One line of the text. A line ends with LF, CR LF, or at the end of the text (where a lone
// CR still counts as its ending).
struct Line {
  size_t begin = 0;
  size_t text_end = 0;  // end of the text without the line ending
  size_t end = 0;       // start of the next line
};

// Walks the lines of a text with a cursor.
class LineCursor {
 public:
  explicit LineCursor(std::string_view content) : content_(content) {}

  bool Next(Line& line) {
    if (pos_ >= content_.size()) return false;
    line.begin = pos_;
    const size_t lf = content_.find('\n', pos_);
    if (lf == std::string_view::npos) {
      line.end = content_.size();
      line.text_end = line.end;
    } else {
      line.end = lf + 1;
      line.text_end = lf;
    }
    if (line.text_end > line.begin && content_[line.text_end - 1] == '\r') --line.text_end;
    pos_ = line.end;
    return true;
  }

 private:
  std::string_view content_;
  size_t pos_ = 0;
};

enum class Kind { kOther, kHeader, kEntry };

struct Parsed {
  Kind kind = Kind::kOther;
  std::string_view name;   // section name of a header, key of an entry
  size_t value_begin = 0;  // entry: offset of the value text in the line (after "=")
  std::string_view value;  // entry: the value, trimmed, quotes still on
};

Parsed ParseLine(std::string_view text) {
  Parsed parsed;
  const std::string_view trimmed = Trim(text);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return parsed;
  if (trimmed.front() == '[') {
    std::string_view name = trimmed.substr(1);
    name = name.substr(0, name.find(']'));
    parsed.kind = Kind::kHeader;
    parsed.name = Trim(name);
    return parsed;
  }
  const size_t eq = text.find('=');
  if (eq == std::string_view::npos) return parsed;
  parsed.kind = Kind::kEntry;
  parsed.name = Trim(text.substr(0, eq));
  parsed.value_begin = eq + 1;
  parsed.value = Trim(text.substr(eq + 1));
  return parsed;
}

// Where a key of a section sits in a text: the first header of the section, its last entry line
// (or the header when it has none), and the first line of the key within it.
struct Place {
  bool section_found = false;
  Line last_line_of_section;
  bool key_found = false;
  Line key_line;
  size_t value_begin = 0;
  std::string_view value;
};

Place Locate(std::string_view content, std::string_view section, std::string_view key) {
  Place place;
  LineCursor cursor(content);
  Line line;
  bool inside = false;
  while (cursor.Next(line)) {
    std::string_view text = content.substr(line.begin, line.text_end - line.begin);
    // Editors may put a UTF-8 byte order mark before a hand-written file's first line.
    const size_t skipped = line.begin == 0 && text.starts_with(kByteOrderMark) ? 3 : 0;
    text.remove_prefix(skipped);
    const Parsed parsed = ParseLine(text);
    if (parsed.kind == Kind::kHeader) {
      if (inside) break;  // the first section of that name has ended
      if (SameName(parsed.name, section)) {
        inside = true;
        place.section_found = true;
        place.last_line_of_section = line;
      }
      continue;
    }
    if (!inside || parsed.kind != Kind::kEntry) continue;
    place.last_line_of_section = line;
    if (SameName(parsed.name, key)) {
      place.key_found = true;
      place.key_line = line;
      place.value_begin = line.begin + skipped + parsed.value_begin;
      place.value = parsed.value;
      break;
    }
  }
  return place;
}

// The line ending of the text's first line; CR LF when it has none.
std::string_view LineEnding(std::string_view content) {
  const size_t lf = content.find('\n');
  if (lf != std::string_view::npos && (lf == 0 || content[lf - 1] != '\r')) return "\n";
  return "\r\n";
}

// What completes the last line of a text so that something can follow it.
std::string_view Completion(std::string_view content, std::string_view eol) {
  if (content.empty() || content.back() == '\n') return "";
  if (content.back() == '\r') return "\n";
  return eol;
}

// A value that a read would change (blanks trimmed, quotes removed) is written in quotes.
std::string Stored(std::string_view value) {
  const bool needs_quotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                               QuotedAtBothEnds(value));
  if (!needs_quotes) return std::string(value);
  std::string quoted = "\"";
  quoted.append(value);
  quoted.push_back('"');
  return quoted;
}

// Cuts a UTF-8 text to at most `limit` characters without splitting one.
std::string CutToCharacters(std::string_view text, size_t limit) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool starts_character = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts_character && ++characters > limit) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// Throws the error of a settings file that this reader would misread and the writer would spoil.
void CheckSettingsText(const std::string& ini_path, std::string_view content) {
  if (const std::optional<std::string> problem = SettingsTextProblem(content)) {
    throw common::Error("Cannot read \"" + common::Printable(ini_path) + "\": " + *problem);
  }
}

}  // namespace

std::optional<std::string> SettingsTextProblem(std::string_view content) {
  const bool utf16_mark = content.starts_with("\xFF\xFE") || content.starts_with("\xFE\xFF");
  // Without a mark, UTF-16 shows as a NUL beside the first character, which is plain ASCII in
  // any settings file ("[", ";" or a key).
  const bool utf16_text = content.size() >= 2 && (content[0] == '\0') != (content[1] == '\0');
  if (utf16_mark || utf16_text) {
    return "the settings file is UTF-16 text; save it as 8-bit text (UTF-8 or ASCII)";
  }
  // A CR at the very end is taken as the start of a CR LF cut short.
  const size_t cr = content.find('\r');
  for (size_t at = cr; at != std::string_view::npos; at = content.find('\r', at + 1)) {
    if (at + 1 < content.size() && content[at + 1] != '\n') {
      return "the settings file has lines ended by CR alone; save it with LF or CR LF line ends";
    }
  }
  return std::nullopt;
}

std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key) {
  const Place place = Locate(content, section, key);
  if (!place.key_found) return std::nullopt;
  std::string_view value = place.value;
  if (QuotedAtBothEnds(value)) value = value.substr(1, value.size() - 2);
  return std::string(value);
}

std::string ReplaceValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value) {
  const Place place = Locate(content, section, key);
  const std::string_view eol = LineEnding(content);
  const std::string stored = Stored(value);
  std::string result;
  result.reserve(content.size() + section.size() + key.size() + stored.size() + 8);
  if (place.key_found) {
    // Keep the line's bytes up to and including "=", and its ending.
    result.append(content.substr(0, place.value_begin));
    result.append(stored);
    result.append(content.substr(place.key_line.text_end));
    return result;
  }
  std::string entry(key);
  entry.push_back('=');
  entry.append(stored);
  entry.append(eol);
  if (place.section_found) {
    const size_t at = place.last_line_of_section.end;
    const std::string_view before = content.substr(0, at);
    result.append(before);
    result.append(Completion(before, eol));
    result.append(entry);
    result.append(content.substr(at));
    return result;
  }
  result.append(content);
  result.append(Completion(content, eol));
  result.push_back('[');
  result.append(section);
  result.push_back(']');
  result.append(eol);
  result.append(entry);
  return result;
}

bool CanStore(std::string_view section, std::string_view key, std::string_view value) {
  if (HoldsLineBreak(section) || HoldsLineBreak(key) || HoldsLineBreak(value)) return false;
  if (section.find(']') != std::string_view::npos || Trim(section) != section) return false;
  if (key.empty() || Trim(key) != key || key.find('=') != std::string_view::npos) return false;
  return key.front() != ';' && key.front() != '#' && key.front() != '[';
}

std::string ReadSetting(const std::string& ini_path, std::string_view section, std::string_view key,
                        std::string_view default_value) {
  const std::optional<std::string> content = TryReadTextFile(ini_path);
  if (!content) return std::string(default_value);
  CheckSettingsText(ini_path, *content);
  const std::optional<std::string> value = FindValue(*content, section, key);
  if (!value) return std::string(default_value);
  return CutToCharacters(*value, kMaxSettingLength);
}

void WriteSetting(const std::string& ini_path, std::string_view section, std::string_view key,
                  std::string_view value) {
  namespace fs = std::filesystem;
  const common::Error failure("Unable to write to " + common::Printable(ini_path));
  if (!CanStore(section, key, value)) throw failure;

  std::error_code ec;
  // Replace the file a link points to, not the link.
  fs::path target = ini_path;
  if (fs::is_symlink(target, ec)) {
    target = fs::weakly_canonical(target, ec);
    if (ec) throw failure;
  }
  const fs::file_status status = fs::status(target, ec);
  std::string content;
  if (fs::exists(status)) {
    // A file marked read-only keeps its content, as the operator intended, although replacing
    // it through the folder would be possible.
    constexpr fs::perms kAnyWrite =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if ((status.permissions() & kAnyWrite) == fs::perms::none) throw failure;
    std::optional<std::string> old = TryReadTextFile(target.string());
    if (!old) throw failure;
    CheckSettingsText(ini_path, *old);
    content = std::move(*old);
  }
  const std::string updated = ReplaceValue(content, section, key, value);

  const std::string temp = target.string() + ".tmp";
  const auto discard_temp = [&temp] {
    std::error_code ignored;
    if (fs::is_regular_file(temp, ignored)) fs::remove(temp, ignored);
  };
  try {
    WriteTextFile(temp, updated);
  } catch (const common::Error&) {
    discard_temp();
    throw failure;
  }
  if (fs::exists(status)) fs::permissions(temp, status.permissions(), ec);
  fs::rename(temp, target, ec);
  if (ec) {
    discard_temp();
    throw failure;
  }
}

}  // namespace persistence
