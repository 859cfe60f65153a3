#pragma once

#include <optional>
#include <string>
#include <string_view>

// The settings file: INI text, "[SECTION]" header lines followed by KEY=value lines. Section and
// key names match without regard to ASCII letter case; blanks around names and values are not
// part of them; a value wrapped in matching quotes loses the quotes. Lines before the first
// header, lines without "=" and lines starting with ";" or "#" belong to no key.
namespace persistence {

// The longest value a read returns, in characters; longer values are cut.
inline constexpr size_t kMaxSettingLength = 2047;

// The value of `key` in the first section named `section` of an INI text, whole (not cut), or
// nullopt when the section or the key is absent. The first of repeated keys wins.
std::optional<std::string> FindValue(std::string_view content, std::string_view section,
                                     std::string_view key);

// The INI text with key=value stored in the first section named `section`: an existing line of
// the key is rewritten in place (its ending kept), a missing key goes after the last key line of
// the section, a missing section goes to the end. Every other byte stays as it was. New lines
// end like the first line of the text, or with CR LF when it has none. A value that would not
// read back unchanged as written (blanks at its ends, quotes at both ends) is stored in quotes.
// The key must not be empty or hold "=", and none of the texts may hold CR or LF (callers check).
std::string ReplaceValue(std::string_view content, std::string_view section, std::string_view key,
                         std::string_view value);

// True when `section`, `key` and `value` can be stored so that a read gives the value back.
bool CanStore(std::string_view section, std::string_view key, std::string_view value);

// Why a settings text is not 8-bit text with LF or CR LF line ends, as an operator's sentence;
// nullopt when it is. UTF-16 (with or without a byte order mark) and lines ended by a lone CR
// are refused: read as 8-bit text they hold no key, and a key written to them would be garbled.
// A lone CR as the very last byte is accepted (a CR LF cut short).
std::optional<std::string> SettingsTextProblem(std::string_view content);

// Reads one value from the INI file at `ini_path` with a fresh file access: the value cut to
// kMaxSettingLength characters, "" for a key present with an empty value, `default_value` when
// the file, the section or the key is absent or the file cannot be read. Throws
// common::Error("Cannot read \"<ini_path>\": <SettingsTextProblem>") for a file in a form it
// cannot read. Window thread.
std::string ReadSetting(const std::string& ini_path, std::string_view section, std::string_view key,
                        std::string_view default_value);

// Stores key=value in the INI file at `ini_path`, creating the file and the section when
// missing, and always writing, also when the value is unchanged. The new content goes to a
// temporary file in the same folder which then replaces the old one, so a failure leaves the old
// content intact. Throws common::Error("Unable to write to <ini_path>") on any failure, and for
// names or values that cannot be stored (see CanStore); the ReadSetting error, without writing,
// for a file in a form it cannot read. Window thread.
void WriteSetting(const std::string& ini_path, std::string_view section, std::string_view key,
                  std::string_view value);

}  // namespace persistence
