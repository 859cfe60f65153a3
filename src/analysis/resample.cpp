#include "analysis/resample.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <fstream>
#include <numbers>

#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

constexpr int kWindow = 9;
constexpr int kCentre = 4;  // x(5), zero-based

// Reads one line without its CR LF (or LF); past the end the line is empty, as a line-oriented
// reader gives it.
std::string ReadLine(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) return {};
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::array<double, kWindow> Weights() {
  const long double pi = std::numbers::pi_v<long double>;
  std::array<double, kWindow> w{};
  for (int i = 0; i < kWindow; ++i) {
    const long double quotient = static_cast<long double>(i - kCentre) / (kWindow + 1);
    w[static_cast<size_t>(i)] = static_cast<double>(0.5L + 0.5L * std::cos(quotient * 2 * pi));
  }
  return w;
}

}  // namespace

int ResampleStream(std::istream& in, std::ostream& out) {
  const std::array<double, kWindow> w = Weights();
  double total = 0;
  for (double c : w) total += c;

  // The first line is the delta from the word logged before streaming began, not an interval.
  ReadLine(in);
  std::array<int32_t, kWindow> x{};
  for (int i = 1; i < kWindow; ++i) x[static_cast<size_t>(i)] = common::StrToInt(ReadLine(in));

  int written = 0;
  while (in.peek() != std::istream::traits_type::eof() && written < kResampleMaxLines) {
    const std::string line = ReadLine(in);
    for (int i = 0; i + 1 < kWindow; ++i) x[static_cast<size_t>(i)] = x[static_cast<size_t>(i + 1)];
    x[kWindow - 1] = common::StrToInt(line);
    double a = 0;
    for (int i = 0; i < kWindow; ++i) {
      a = static_cast<double>(a + static_cast<long double>(x[static_cast<size_t>(i)]) *
                                      static_cast<long double>(w[static_cast<size_t>(i)]));
    }
    a = a / total;
    out << common::IntText(x[kCentre]) << ',' << common::GeneralText(a) << "\r\n";
    if (!out) throw common::Error("I/O error while writing the resampled log");
    ++written;
  }
  if (in.bad()) throw common::Error("I/O error while reading the stream log");
  return written;
}

void ResampleLog(const std::string& stream_path, const std::string& out_path) {
  errno = 0;
  std::ifstream in(stream_path, std::ios::binary);
  if (!in) {
    throw common::FileError("Cannot open", stream_path, errno);
  }
  errno = 0;
  std::ofstream out(out_path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw common::FileError("Cannot create", out_path, errno);
  }
  ResampleStream(in, out);
  out.flush();
  if (!out) throw common::FileError("Cannot write", out_path, errno);
}

}  // namespace analysis
