#include "persistence/stability_csv.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "persistence/text_file.h"

namespace persistence {
namespace {

// Every column of a written row reads back as a spreadsheet would take it: the names and counts
// exactly, the numbers to ten significant digits, an unknown alpha or bound as an empty column.
TEST(StabilityCsv, RowsReadBackColumnByColumnFromTheWrittenFile) {
  using analysis::Deviation;
  const std::vector<analysis::StabilityRow> rows = {
      {Deviation::kAdev, 1, 0.0009999895833333, 23, 2, 1.2369006339e-4, 1.046918692e-4, 1.590626071e-4},
      {Deviation::kMtie, 1024, 1.0e-3 / 3, 1000001, std::nullopt, 2.75e-7, std::nullopt, std::nullopt},
  };
  const auto path =
      std::filesystem::temp_directory_path() / ("k390_table_" + std::to_string(getpid()) + ".csv");
  WriteStabilityCsv(path.string(), rows);
  std::stringstream in(ReadTextFile(path.string()));
  std::filesystem::remove(path);

  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, kStabilityCsvHeader);
  for (const analysis::StabilityRow& row : rows) {
    ASSERT_TRUE(std::getline(in, line));
    std::vector<std::string> c;
    std::stringstream columns(line + ',');
    for (std::string column; std::getline(columns, column, ',');) c.push_back(column);
    ASSERT_EQ(c.size(), 8u) << line;
    EXPECT_EQ(c[0], analysis::DeviationName(row.deviation));
    EXPECT_EQ(c[1] + ' ' + c[3], std::to_string(row.m) + ' ' + std::to_string(row.n));
    EXPECT_EQ(c[4], row.alpha ? std::to_string(*row.alpha) : "");
    const std::optional<double> numbers[] = {row.tau_s, row.value, row.min, row.max};
    const std::string texts[] = {c[2], c[5], c[6], c[7]};
    for (size_t k = 0; k < 4; ++k) {
      if (!numbers[k]) {
        EXPECT_EQ(texts[k], "") << line;
      } else {
        EXPECT_NEAR(std::strtod(texts[k].c_str(), nullptr), *numbers[k], *numbers[k] * 1e-9)
            << line;
      }
    }
  }
  EXPECT_FALSE(std::getline(in, line));
}

}  // namespace
}  // namespace persistence
