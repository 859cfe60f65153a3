#include "persistence/stability_csv.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "persistence/text_file.h"

namespace persistence {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Columns(const std::string& line) {
  std::vector<std::string> columns;
  std::stringstream in(line);
  std::string column;
  while (std::getline(in, column, ',')) columns.push_back(column);
  if (!line.empty() && line.back() == ',') columns.emplace_back();
  return columns;
}

// Reads a number column back, as a spreadsheet would.
double Read(const std::string& column) { return std::strtod(column.c_str(), nullptr); }

void ExpectClose(const std::string& column, double expected) {
  // Ten significant digits survive the text.
  EXPECT_NEAR(Read(column), expected, std::abs(expected) * 1e-9) << column;
}

TEST(StabilityCsv, RowsReadBackColumnByColumnFromTheWrittenFile) {
  const std::vector<StabilityCsvRow> rows = {
      {"adev", 1, 0.0009999895833333, 23, 2, 1.2369006339e-4, 1.046918692e-4, 1.590626071e-4},
      {"ohdev", 64, 65536.125, 1, -2, 3.5e-12, std::nullopt, std::nullopt},
      {"mtie", 1024, 1.0e-3 / 3, 1000001, std::nullopt, 2.75e-7, std::nullopt, std::nullopt},
  };
  const fs::path dir = fs::temp_directory_path() / ("k390_csv_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string path = (dir / "table.csv").string();
  WriteStabilityCsv(path, rows);
  const std::string text = ReadTextFile(path);
  EXPECT_FALSE(fs::exists(path + ".tmp"));

  std::stringstream in(text);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, kStabilityCsvHeader);
  for (const StabilityCsvRow& row : rows) {
    ASSERT_TRUE(std::getline(in, line));
    const std::vector<std::string> c = Columns(line);
    ASSERT_EQ(c.size(), 8u) << line;
    EXPECT_EQ(c[0], row.deviation);
    EXPECT_EQ(c[1], std::to_string(row.af));
    ExpectClose(c[2], row.tau_s);
    EXPECT_EQ(c[3], std::to_string(row.n));
    EXPECT_EQ(c[4], row.alpha ? std::to_string(*row.alpha) : "");
    ExpectClose(c[5], row.value);
    for (auto [column, bound] : {std::pair{c[6], row.min}, std::pair{c[7], row.max}}) {
      if (bound) {
        ExpectClose(column, *bound);
      } else {
        EXPECT_EQ(column, "");
      }
    }
  }
  EXPECT_FALSE(std::getline(in, line));
  EXPECT_EQ(text.back(), '\n');

  // A table that cannot be written names its file; an empty one is the header alone.
  const std::string blocked = (dir / "no-such-folder" / "table.csv").string();
  try {
    WriteStabilityCsv(blocked, rows);
    ADD_FAILURE() << "no error for " << blocked;
  } catch (const common::Error& error) {
    EXPECT_NE(error.Message().find(blocked), std::string::npos) << error.Message();
  }
  WriteStabilityCsv(path, {});
  EXPECT_EQ(ReadTextFile(path), std::string(kStabilityCsvHeader) + '\n');
  fs::remove_all(dir);
}

}  // namespace
}  // namespace persistence
