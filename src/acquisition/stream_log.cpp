#include "acquisition/stream_log.h"

#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/error.h"

namespace acquisition {
namespace {

std::string Reason(int error) { return error != 0 ? std::strerror(error) : "I/O error"; }

common::Error FileError(std::string_view verb, const std::string& path, std::string_view reason) {
  return common::Error(std::string(verb) + " \"" + path + "\": " + std::string(reason));
}

}  // namespace

StreamLog::~StreamLog() {
  if (file_ != nullptr) {
    if (!buffer_.empty()) std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
    std::fclose(file_);
  }
}

void StreamLog::Open(const std::string& path) {
  if (file_ != nullptr) {
    try {
      Close();
    } catch (const common::Error&) {
      // The old log's tail is lost either way; the new log still opens.
    }
  }
  path_ = path;
  buffer_.clear();
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw FileError("Cannot create", path, Reason(errno));
  buffer_.reserve(kBufferSize);
}

void StreamLog::WriteDelta(uint64_t delta) {
  if (file_ == nullptr) throw FileError("Cannot write", path_, "file not open");
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, delta);
  buffer_.append(text, result.ptr);
  buffer_.append("\r\n");
  if (buffer_.size() >= kBufferSize) WriteOut();
}

void StreamLog::WriteOut() {
  if (buffer_.empty()) return;
  errno = 0;
  const size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  const bool failed = written != buffer_.size() || std::fflush(file_) != 0;
  const int error = errno;
  // Whatever failed to go out is dropped: keeping it would retry the same bytes after later
  // lines had been written behind them.
  buffer_.clear();
  if (failed) throw FileError("Cannot write", path_, Reason(error));
}

void StreamLog::Close() {
  if (file_ == nullptr)
    throw FileError("Cannot close", path_.empty() ? std::string(kStreamLogName) : path_,
                    "file not open");
  std::FILE* file = file_;
  std::string failure;
  try {
    WriteOut();
  } catch (const common::Error& error) {
    failure = error.what();
  }
  file_ = nullptr;
  errno = 0;
  if (std::fclose(file) != 0 && failure.empty())
    failure = FileError("Cannot write", path_, Reason(errno)).what();
  if (!failure.empty()) throw common::Error(failure);
}

}  // namespace acquisition
