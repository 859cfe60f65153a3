#include "persistence/limit_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace persistence {
namespace {

constexpr std::string_view kNames[] = {"tdev", "mtie"};

TEST(LimitLines, RowsGroupByDeviationInFileOrder) {
  const std::vector<LimitLine> lines = ParseLimitLines(
      "# a mask\r\n\r\ndeviation,tau_s,limit\r\nmtie, 0.001 ,1e-7\r\ntdev,1e-3,2E-8\n"
      "mtie,10,3e-7\rtdev,1,1e-7",
      kNames);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].deviation, "mtie");
  ASSERT_EQ(lines[0].points.size(), 2u);
  EXPECT_EQ(lines[0].points[0].tau_s, 0.001);
  EXPECT_EQ(lines[0].points[1].limit, 3e-7);
  EXPECT_EQ(lines[1].deviation, "tdev");
  ASSERT_EQ(lines[1].points.size(), 2u);
  EXPECT_EQ(lines[1].points[0].limit, 2e-8);
  EXPECT_EQ(lines[1].points[1].tau_s, 1);
}

TEST(LimitLines, BadInputNamesItsLine) {
  const std::string header = "deviation,tau_s,limit\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"tdev,1,1\n", "line 1: expected the header deviation,tau_s,limit"},
      {header + "tdev,1\n", "line 2: expected 3 fields (deviation,tau_s,limit), found 2"},
      {header + "tdev,1,2,3\n", "line 2: expected 3 fields (deviation,tau_s,limit), found 4"},
      {header + "adev,1,1\n", "line 2: unknown deviation 'adev'"},
      {header + "tdev,1,1\n\ntdev,x,1\n", "line 4: 'x' is not a valid floating point value"},
      {header + "tdev,0,1\n", "line 2: tau_s must be above 0"},
      {header + "tdev,1,-1\n", "line 2: limit must be above 0"},
      {header + "tdev,1,1\nmtie,0.5,1\ntdev,1,2\n", "line 4: tau_s must increase within tdev"},
      {header + "# nothing\n", "no limit points"},
      {"", "no limit points"},
  };
  for (const auto& c : cases) {
    try {
      ParseLimitLines(c.text, kNames);
      ADD_FAILURE() << c.text;
    } catch (const common::Error& e) {
      EXPECT_EQ(e.Message(), c.message) << c.text;
    }
  }
}

}  // namespace
}  // namespace persistence
