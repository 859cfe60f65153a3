#include "acquisition/stream_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>

#include "common/error.h"

namespace acquisition {
namespace {

// Writing to or closing a log that is not open has no errno of its own.
common::Error NotOpenError(std::string_view action, const std::string& path) {
  return common::Error(std::string(action) + " \"" + path + "\": file not open");
}

// The file a log at `path` replaces: a symbolic link's target, so the link stays a link.
std::string Target(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

}  // namespace

StreamLog::~StreamLog() {
  if (fd_ < 0) return;
  if (started_ && failure_.empty() && !buffer_.empty()) {
    [[maybe_unused]] const ssize_t written = ::write(fd_, buffer_.data(), buffer_.size());
  }
  ::close(fd_);
  if (!started_ && !direct_) ::unlink(temp_.c_str());
}

void StreamLog::Open(const std::string& path) {
  if (fd_ >= 0) {
    try {
      Close();
    } catch (const common::Error&) {
      // The old log's tail is lost either way; the new log still opens.
    }
  }
  path_ = path;
  target_ = Target(path);
  buffer_.clear();
  started_ = false;
  file_bytes_ = lines_written_ = lines_buffered_ = 0;
  failure_.clear();
  struct stat info {};
  const bool exists = ::stat(target_.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) throw common::FileError("Cannot create", path, EISDIR);
  direct_ = exists && !S_ISREG(info.st_mode);
  temp_ = direct_ ? target_ : target_ + ".tmp";
  errno = 0;
  const int flags = O_WRONLY | O_CLOEXEC | (direct_ ? 0 : O_CREAT | O_TRUNC);
  fd_ = ::open(temp_.c_str(), flags, 0666);
  if (fd_ < 0) throw common::FileError("Cannot create", path, errno);
  buffer_.reserve(kBufferSize);
}

void StreamLog::Start() {
  if (!direct_ && std::rename(temp_.c_str(), target_.c_str()) != 0) Fail(errno);
  started_ = true;
}

void StreamLog::WriteDelta(uint64_t delta) {
  if (fd_ < 0) throw NotOpenError("Cannot write", path_);
  if (!failure_.empty()) throw common::Error(failure_);
  if (!started_) Start();
  if (buffer_.empty()) buffered_since_ = Clock::now();
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, delta);
  buffer_.append(text, result.ptr);
  buffer_.append("\r\n");
  ++lines_buffered_;
  if (buffer_.size() >= kBufferSize) WriteOut();
}

void StreamLog::Flush() {
  if (fd_ < 0) throw NotOpenError("Cannot write", path_);
  if (!failure_.empty()) throw common::Error(failure_);
  WriteOut();
}

bool StreamLog::FlushDue(Clock::time_point now, Clock::duration after) const {
  return !buffer_.empty() && now - buffered_since_ >= after;
}

void StreamLog::WriteOut() {
  size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int error = written < 0 ? errno : ENOSPC;
      // What reached the file is cut back to its last whole line: a reader must never take the
      // front of a number for a delta.
      const std::string_view out(buffer_.data(), done);
      const size_t whole = out.rfind('\n') == std::string_view::npos ? 0 : out.rfind('\n') + 1;
      if (!direct_) {
        // A cut that fails leaves the part line; the failure is reported either way.
        [[maybe_unused]] const int cut = ::ftruncate(fd_, file_bytes_ + whole);
      }
      file_bytes_ += static_cast<int64_t>(whole);
      lines_written_ += std::count(out.begin(), out.begin() + whole, '\n');
      Fail(error);
    }
    done += static_cast<size_t>(written);
  }
  file_bytes_ += static_cast<int64_t>(buffer_.size());
  lines_written_ += lines_buffered_;
  lines_buffered_ = 0;
  buffer_.clear();
}

void StreamLog::Fail(int error) {
  buffer_.clear();
  lines_buffered_ = 0;
  const common::Error failure = common::FileError("Cannot write", path_, error);
  failure_ = failure.Message();
  throw failure;
}

void StreamLog::Close() {
  if (fd_ < 0) {
    throw NotOpenError("Cannot close", path_.empty() ? std::string(kStreamLogName) : path_);
  }
  std::string failure;
  if (failure_.empty()) {
    try {
      WriteOut();
    } catch (const common::Error& error) {
      failure = error.Message();
    }
  }
  errno = 0;
  if (::close(fd_) != 0 && failure.empty() && failure_.empty()) {
    failure = common::FileError("Cannot write", path_, errno).Message();
    failure_ = failure;
  }
  fd_ = -1;
  if (!started_ && !direct_) ::unlink(temp_.c_str());
  if (!failure.empty()) throw common::Error(failure);
}

}  // namespace acquisition
