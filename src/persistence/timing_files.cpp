#include "persistence/timing_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

#include "analysis/timing_input.h"
#include "common/error.h"
#include "common/huge_pages.h"
#include "persistence/jit_file.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

// Large enough that a read costs little next to the parse, small enough to stay in the cache.
constexpr size_t kBlock = size_t{1} << 20;

class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::string& path) : path_(path) {
    errno = 0;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw common::FileError("Cannot open", path_, errno ? errno : EIO);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  ~ReadOnlyFile() { ::close(fd_); }

  // Bytes the file holds now; 0 when it cannot say (a pipe).
  int64_t Size() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  }

  // Fills up to `size` bytes; 0 at the end of the file.
  size_t Read(char* to, size_t size) {
    for (;;) {
      const ssize_t got = ::read(fd_, to, size);
      if (got >= 0) return static_cast<size_t>(got);
      if (errno != EINTR) throw common::FileError("Cannot read", path_, errno);
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
};

std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

// Every line of a text ending in LF, whatever ended it before.
std::string WithLfEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  analysis::ForEachLine(text, [&](int64_t, std::string_view line) {
    out.append(line);
    out += '\n';
  });
  return out;
}

}  // namespace

std::vector<int64_t> ReadStreamLogIntervals(const std::string& path) {
  ReadOnlyFile file(path);
  const int64_t size = file.Size();
  std::vector<int64_t> intervals;
  analysis::StreamLogParser parser(intervals);
  std::unique_ptr<char[]> buffer(new char[kBlock]);
  size_t capacity = kBlock;
  size_t held = 0;  // an unfinished line carried over from the block before
  bool sized = false;
  for (;;) {
    if (held == capacity) {  // a line longer than the block: make room for the rest of it
      std::unique_ptr<char[]> wider(new char[capacity * 2]);
      std::memcpy(wider.get(), buffer.get(), held);
      buffer = std::move(wider);
      capacity *= 2;
    }
    const size_t got = file.Read(buffer.get() + held, capacity - held);
    const bool last = got == 0;
    const size_t taken = parser.Parse(std::string_view(buffer.get(), held + got), last);
    if (last) break;
    // Sized once from the first block's lines, so the intervals are not copied as they grow.
    if (!sized && parser.Lines() > 1 && size > 0) {
      const double per_line = static_cast<double>(taken) / static_cast<double>(parser.Lines());
      common::ReserveLarge(intervals,
                           static_cast<size_t>(static_cast<double>(size) / per_line * 1.02) + 16);
      sized = true;
    }
    held = held + got - taken;
    std::memmove(buffer.get(), buffer.get() + taken, held);
  }
  return intervals;
}

std::vector<int64_t> ReadPulseIntervals(const std::string& path, bool stream_log) {
  if (stream_log) return ReadStreamLogIntervals(path);
  const std::string content = ReadTextFile(path);
  const std::string_view header = FirstLine(content);
  if (header != kIntervalHeader && header != kFrequencyHeader) {
    return analysis::ReplyIntervals(content);
  }
  JitList loaded = ParseJit(WithLfEnds(content));
  // Each line after the header gives one value, so the list's n-th value is line n + 1.
  std::vector<int64_t> intervals = std::move(loaded.ticks);
  if (loaded.error) {
    throw common::Error(
        analysis::LineMessage(static_cast<int64_t>(intervals.size()) + 2, *loaded.error));
  }
  return intervals;
}

}  // namespace persistence
