#pragma once

// What the process tests of the tools share: a finished run's status and output, and reading a
// file whole.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tool_test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tool_test
