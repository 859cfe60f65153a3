#include "presentation/limit_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "presentation/channel_view.h"

namespace presentation {
namespace {

using analysis::Deviation;
using analysis::LimitResult;
using analysis::LimitVerdict;

LimitVerdict Line(Deviation d, LimitResult result, double margin, double worst_tau,
                  std::optional<double> first_fail = std::nullopt) {
  return {d, result, result == LimitResult::kNoRows ? 0 : 3, margin, worst_tau, first_fail};
}

TEST(LimitView, VerdictNamesTheFirstFailingTauAndTheWorstMarginOfAllLines) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::vector<LimitVerdict> lines;
    std::string text;
  };
  const Case cases[] = {
      {{}, "Limits: none for the curves shown"},
      {{Line(Deviation::kTdev, LimitResult::kPass, 0.5, 0.004),
        Line(Deviation::kMtie, LimitResult::kPass, 0.235, 0.016)},
       "Limits PASS  worst margin 23.5 % (MTIE at tau 0.016 s)"},
      // The MTIE line fails later in tau but worse; the TDEV line fails first.
      {{Line(Deviation::kMtie, LimitResult::kFail, -0.4, 0.1, 0.064),
        Line(Deviation::kTdev, LimitResult::kFail, -0.1, 0.008, 0.008)},
       "Limits FAIL  first failing tau 0.008 s (TDEV)  worst margin -40.0 % (MTIE at tau 0.1 s)"},
      {{Line(Deviation::kTdev, LimitResult::kPass, 0.5, 0.004),
        Line(Deviation::kMtie, LimitResult::kNoRows, nan, nan)},
       "Limits NOT MET  no rows within the taus of MTIE"},
  };
  for (const Case& c : cases) {
    analysis::LimitsVerdict verdict{.pass = false, .lines = c.lines};
    EXPECT_EQ(LimitVerdictText(verdict), c.text);
  }
}

// A line fails at the one segment its curve crosses, and the view names that segment's tau.
TEST(LimitView, LinesOfTheDeviationsDrawnAreJudgedAgainstTheCurve) {
  const std::vector<analysis::LimitLine> lines = {
      {"oadev", {{0.001, 1e-3}, {1, 1e-3}}},
      {"tdev", {{0.001, 1e-8}, {0.01, 1e-8}, {0.1, 1e-8}}},
      {"mtie", {{0.001, 1e-7}, {1, 1e-7}}}};
  const std::vector<analysis::LimitLine> kept = LinesFor(lines, kDifferenceDeviations);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0].deviation, "tdev");
  EXPECT_EQ(kept[1].deviation, "mtie");

  std::vector<analysis::StabilityRow> rows;
  for (int k = 0; k < 7; ++k) {
    const double tau = 0.001 * (1 << k);
    // TDEV above its limit from 0.016 s to 0.032 s only (within the second segment).
    const double tdev = (k == 4 || k == 5) ? 2e-8 : 5e-9;
    for (const auto& [deviation, value] : {std::pair{Deviation::kTdev, tdev},
                                           std::pair{Deviation::kMtie, 5e-8}}) {
      analysis::StabilityRow row;
      row.deviation = deviation;
      row.m = int64_t{1} << k;
      row.tau_s = tau;
      row.value = value;
      rows.push_back(row);
    }
  }
  const std::string text = LimitVerdictText(analysis::CheckLimits(rows, kept));
  EXPECT_EQ(text.rfind("Limits FAIL  first failing tau 0.016 s (TDEV)  worst margin -100.0 %", 0),
            0u)
      << text;
}

}  // namespace
}  // namespace presentation
