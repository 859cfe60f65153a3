#include "analysis/resample.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <optional>
#include <sstream>

#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"
#include "persistence/text_file.h"

namespace analysis {
namespace {

constexpr int kWindow = 9;
constexpr int kCentre = 4;  // x(5), zero-based

// Reads one line without its ending; CR LF, LF and a lone CR each end a line. Past the end the
// line is empty, as a line-oriented reader gives it.
std::string ReadLine(std::istream& in) {
  std::string line;
  using Traits = std::istream::traits_type;
  for (Traits::int_type c = in.get(); c != Traits::eof(); c = in.get()) {
    if (c == '\n') break;
    if (c == '\r') {
      if (in.peek() == '\n') in.get();
      break;
    }
    line.push_back(Traits::to_char_type(c));
  }
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
  std::error_code ec;
  if (std::filesystem::equivalent(stream_path, out_path, ec)) {
    throw common::Error("Cannot create \"" + common::Printable(out_path) +
                        "\": it is the stream log being read");
  }
  // The whole log is in memory before the output is touched, and the output is replaced in one
  // step, so no failure can leave either file half written.
  std::istringstream in(persistence::ReadTextFile(stream_path));
  std::ostringstream out;
  std::optional<common::Error> failure;
  try {
    ResampleStream(in, out);
  } catch (const common::Error& e) {
    failure = e;  // the lines completed before a bad line are still written
  }
  persistence::ReplaceTextFile(out_path, out.str());
  if (failure) throw *failure;
}

}  // namespace analysis
