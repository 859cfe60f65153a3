#include "analysis/limit_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace analysis {
namespace {

// A mask in three straight log-log segments: falling as 1/tau to 10 ms, flat to 100 ms, rising
// as tau beyond, written here as its power laws rather than by interpolation.
const std::vector<LimitPoint> kMask = {
    {1e-3, 1e-7}, {1e-2, 1e-8}, {1e-1, 1e-8}, {1, 1e-7}};

double MaskAt(double tau) {
  if (tau <= 1e-2) return 1e-8 * 1e-2 / tau;
  if (tau <= 1e-1) return 1e-8;
  return 1e-8 * tau / 1e-1;
}

// TDEV rows at tau = 1 ms * 2^k, k = 0 .. 11 (1 ms to 2.048 s): `factor` times the mask inside
// [from, to], half of it elsewhere.
std::vector<StabilityRow> Rows(double from, double to, double factor) {
  std::vector<StabilityRow> rows;
  for (int k = 0; k < 12; ++k) {
    const double tau = 1e-3 * std::pow(2.0, k);
    const bool inside = tau >= from && tau <= to;
    rows.push_back({Deviation::kTdev,
                    int64_t{1} << k,
                    tau,
                    100,
                    0,
                    (inside ? factor : 0.5) * MaskAt(tau),
                    {},
                    {}});
  }
  rows.push_back({Deviation::kMtie, 1, 1e-3, 100, {}, 1.0, {}, {}});  // another deviation
  return rows;
}

TEST(LimitCheck, EverySegmentCountsAndTheFirstFailingTauIsItsOwn) {
  const struct {
    const char* name;
    double from, to, factor;
    LimitResult result;
    double worst_margin;
    double first_failing;  // 0: none
  } cases[] = {
      {"below everywhere", 0, 0, 1, LimitResult::kPass, 0.5, 0},
      {"over in the first segment only", 2e-3, 8e-3, 2, LimitResult::kFail, -1, 2e-3},
      {"over in the middle segment only", 0.011, 0.099, 3, LimitResult::kFail, -2, 0.016},
      {"over in the last segment only", 0.2, 0.6, 1.5, LimitResult::kFail, -0.5, 0.256},
      {"touching the limit passes", 0.02, 0.05, 1, LimitResult::kPass, 0, 0},
      {"beyond the last point is not judged", 1.01, 3, 10, LimitResult::kPass, 0.5, 0},
  };
  for (const auto& c : cases) {
    const LimitVerdict v = CheckLimit(Rows(c.from, c.to, c.factor), Deviation::kTdev, kMask);
    EXPECT_EQ(v.result, c.result) << c.name;
    EXPECT_EQ(v.checked, 10) << c.name;  // 1 ms .. 512 ms
    EXPECT_NEAR(v.worst_margin, c.worst_margin, 1e-9) << c.name;
    EXPECT_EQ(v.first_failing_tau_s.value_or(0), c.first_failing) << c.name;
  }
}

TEST(LimitCheck, EachLineHeldAgainstItsOwnDeviation) {
  const std::vector<LimitLine> lines = {
      {"tdev", kMask}, {"mtie", {{1e-3, 2.0}, {1, 2.0}}}, {"mdev", {{1e-3, 1}, {1, 1}}}};
  LimitsVerdict verdict = CheckLimits(Rows(0, 0, 1), lines);
  ASSERT_EQ(verdict.lines.size(), 3u);
  EXPECT_EQ(verdict.lines[1].result, LimitResult::kPass);
  EXPECT_EQ(verdict.lines[2].result, LimitResult::kNoRows);
  EXPECT_FALSE(verdict.pass);
  verdict = CheckLimits(Rows(0, 0, 1), std::span(lines).first(2));
  EXPECT_TRUE(verdict.pass);
  verdict = CheckLimits(Rows(0.1, 0.2, 1.01), std::span(lines).first(2));
  EXPECT_FALSE(verdict.pass);
}

}  // namespace
}  // namespace analysis
