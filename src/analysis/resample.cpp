#include "analysis/resample.h"

#include <array>
#include <cmath>
#include <numbers>

#include "common/convert.h"
#include "common/error.h"
#include "common/text_forms.h"

namespace analysis {
namespace {

constexpr int kWindow = 9;
constexpr int kCentre = 4;  // x(5), zero-based

// Lines of a text, each without its ending; CR LF, LF and a lone CR each end a line. Past the
// end a line is empty, as a line-oriented reader gives it.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ >= text_.size(); }

  std::string_view Next() {
    const size_t from = std::min(pos_, text_.size());
    size_t end = text_.find_first_of("\r\n", from);
    if (end == std::string_view::npos) end = text_.size();
    pos_ = end + 1;
    if (end < text_.size() && text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') {
      ++pos_;
    }
    return text_.substr(from, end - from);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

std::array<double, kWindow> Weights() {
  const long double pi = std::numbers::pi_v<long double>;
  std::array<double, kWindow> w{};
  for (int i = 0; i < kWindow; ++i) {
    const long double quotient = static_cast<long double>(i - kCentre) / (kWindow + 1);
    w[static_cast<size_t>(i)] = static_cast<double>(0.5L + 0.5L * std::cos(quotient * 2 * pi));
  }
  return w;
}

// The weighted mean of the window, summed in the order and precision the figures were first
// published with.
double Smoothed(const std::array<int32_t, kWindow>& x, const std::array<double, kWindow>& w,
                double total) {
  double a = 0;
  for (size_t i = 0; i < kWindow; ++i) {
    a = static_cast<double>(a + static_cast<long double>(x[i]) * static_cast<long double>(w[i]));
  }
  return a / total;
}

}  // namespace

Resampled ResampleText(std::string_view log) {
  const std::array<double, kWindow> w = Weights();
  double total = 0;
  for (double c : w) total += c;

  Resampled out;
  LineCursor lines(log);
  try {
    // The first line is the delta from the word logged before streaming began, not an interval.
    lines.Next();
    std::array<int32_t, kWindow> x{};
    for (size_t i = 1; i < kWindow; ++i) x[i] = common::StrToInt(lines.Next());
    while (!lines.AtEnd() && out.lines < kResampleMaxLines) {
      const std::string_view line = lines.Next();
      for (size_t i = 0; i + 1 < kWindow; ++i) x[i] = x[i + 1];
      x[kWindow - 1] = common::StrToInt(line);
      out.text += common::IntText(x[kCentre]) + ',' + common::GeneralText(Smoothed(x, w, total));
      out.text += "\r\n";
      ++out.lines;
    }
  } catch (const common::Error& e) {
    out.error = e.Message();
  }
  return out;
}

}  // namespace analysis
