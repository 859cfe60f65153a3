#include "persistence/text_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/error.h"

namespace persistence {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Message(const char* what, const std::string& path, int error) {
  return common::FileError(what, path, error).Message();
}

// Reads the whole file; on failure returns nullopt and leaves a message in `message`.
std::optional<std::string> Read(const std::string& path, std::string* message) {
  errno = 0;
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *message = Message("Cannot open", path, errno ? errno : EIO);
    return std::nullopt;
  }
  std::string content;
  char chunk[65536];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    content.append(chunk, got);
    if (got < sizeof chunk) break;
  }
  if (std::ferror(file.get())) {
    *message = Message("Cannot read", path, errno ? errno : EIO);
    return std::nullopt;
  }
  return content;
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  std::string message;
  auto content = Read(path, &message);
  if (!content) throw common::Error(message);
  return std::move(*content);
}

std::optional<std::string> TryReadTextFile(const std::string& path) {
  std::string message;
  return Read(path, &message);
}

namespace {

// Writes `content` to a new file at `open_path`, naming `shown_path` in the error. `created` is
// set once the file exists, so that a caller removes only a file of its own.
void Write(const std::string& open_path, const std::string& shown_path, std::string_view content,
           bool* created = nullptr) {
  errno = 0;
  std::FILE* raw = std::fopen(open_path.c_str(), "wb");
  if (!raw) throw common::Error(Message("Cannot create", shown_path, errno ? errno : EIO));
  if (created != nullptr) *created = true;
  errno = 0;
  const bool written = std::fwrite(content.data(), 1, content.size(), raw) == content.size() &&
                       std::fflush(raw) == 0;
  const int write_error = errno ? errno : EIO;
  errno = 0;
  const bool closed = std::fclose(raw) == 0;
  if (!written) throw common::Error(Message("Cannot write", shown_path, write_error));
  if (!closed) throw common::Error(Message("Cannot write", shown_path, errno ? errno : EIO));
}

}  // namespace

void WriteTextFile(const std::string& path, std::string_view content) {
  Write(path, path, content);
}

void ReplaceTextFile(const std::string& path, std::string_view content) {
  const std::string temp = path + ".tmp";
  bool created = false;
  try {
    Write(temp, path, content, &created);
  } catch (const common::Error&) {
    if (created) std::remove(temp.c_str());
    throw;
  }
  errno = 0;
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno ? errno : EIO;
    std::remove(temp.c_str());
    throw common::Error(Message("Cannot create", path, error));
  }
}

}  // namespace persistence
