#include "output_check.h"

#include <sys/stat.h>

#include <optional>

#include "common/error.h"

namespace k390tool {
namespace {

struct FileId {
  dev_t device;
  ino_t inode;
  bool operator==(const FileId&) const = default;
};

// The file a name stands for, following symlinks; none when there is no such file (yet).
std::optional<FileId> IdOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileId{info.st_dev, info.st_ino};
}

}  // namespace

void RefuseOutputThatIsInput(std::string_view output, std::initializer_list<InputFile> inputs) {
  const std::string out(output);
  const std::string temp = out + ".tmp";
  const std::optional<FileId> written[] = {IdOf(out), IdOf(temp)};
  for (const InputFile& input : inputs) {
    const std::optional<FileId> read = IdOf(std::string(input.path));
    if (!read) continue;
    std::string message = "Cannot create \"" + common::Printable(out) + "\": ";
    if (written[0] == read) throw common::Error(message + "it is " + std::string(input.what));
    if (written[1] == read) {
      throw common::Error(message + "its temporary file \"" + common::Printable(temp) + "\" is " +
                          std::string(input.what));
    }
  }
}

}  // namespace k390tool
