#include "acquisition/stream_log.h"

#include <cerrno>
#include <charconv>

#include "common/error.h"

namespace acquisition {
namespace {

// Writing to or closing a log that is not open has no errno of its own.
common::Error NotOpenError(std::string_view action, const std::string& path) {
  return common::Error(std::string(action) + " \"" + path + "\": file not open");
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
  lines_buffered_ = 0;
  lines_written_ = 0;
  errno = 0;
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) throw common::FileError("Cannot create", path, errno);
  buffer_.reserve(kBufferSize);
}

void StreamLog::WriteDelta(uint64_t delta) {
  if (file_ == nullptr) throw NotOpenError("Cannot write", path_);
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, delta);
  buffer_.append(text, result.ptr);
  buffer_.append("\r\n");
  ++lines_buffered_;
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
  if (!failed) lines_written_ += lines_buffered_;
  lines_buffered_ = 0;
  if (failed) throw common::FileError("Cannot write", path_, error);
}

void StreamLog::Close() {
  if (file_ == nullptr)
    throw NotOpenError("Cannot close", path_.empty() ? std::string(kStreamLogName) : path_);
  std::FILE* file = file_;
  std::string failure;
  try {
    WriteOut();
  } catch (const common::Error& error) {
    failure = error.Message();
  }
  file_ = nullptr;
  errno = 0;
  if (std::fclose(file) != 0 && failure.empty())
    failure = common::FileError("Cannot write", path_, errno).Message();
  if (!failure.empty()) throw common::Error(failure);
}

}  // namespace acquisition
