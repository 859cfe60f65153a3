#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The one rule every k390tool command that writes a file follows: what it writes is never what
// it reads. Files are compared themselves (device and inode, through symlinks), not by name, so
// another spelling, a symlink or a hard link of an input is caught; an output that does not
// exist yet is no input.
namespace k390tool {

struct InputFile {
  std::string_view path;
  std::string_view what;  // "the stream log being read"
};

// Throws common::Error("Cannot create \"OUT\": it is <what>") when `output`, or the temporary
// "OUT.tmp" that is written first and renamed over it, is one of `inputs`. Any thread.
void RefuseOutputThatIsInput(std::string_view output, std::initializer_list<InputFile> inputs);

}  // namespace k390tool
