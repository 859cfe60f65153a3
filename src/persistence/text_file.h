#pragma once

#include <optional>
#include <string>
#include <string_view>

// Whole-file access for the settings and data files: each call opens, reads or writes, and
// closes. Bytes are passed through unchanged (no line-ending translation). Any thread.
namespace persistence {

// The whole content of the file. Throws common::Error("Cannot open \"<path>\": <reason>") or
// ("Cannot read \"<path>\": <reason>") when the file cannot be opened or read.
std::string ReadTextFile(const std::string& path);

// As ReadTextFile, but nullopt instead of an error.
std::optional<std::string> TryReadTextFile(const std::string& path);

// Creates the file (replacing one of that name) and writes `content`. Throws
// common::Error("Cannot create \"<path>\": <reason>") or ("Cannot write \"<path>\": <reason>").
void WriteTextFile(const std::string& path, std::string_view content);

// As WriteTextFile, but the content goes to "<path>.tmp" first, which then replaces the file in
// one step: a failure at any point leaves the old file as it was. Errors name `path`.
void ReplaceTextFile(const std::string& path, std::string_view content);

}  // namespace persistence
