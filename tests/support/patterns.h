// The response pattern file that a run must write, from a plain count of
// the patterns; the record layout the program builds; case matrices made of
// rows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

// Patterns reversed, the last variable first, order as the program orders
// them; each with the number of rows that gave it.
using PatternCounts = std::map<std::vector<int32_t>, int64_t>;

// The records for the counted patterns.
inline std::string PatternRecords(const PatternCounts& counts) {
  std::string bytes;
  char field[16];
  for (const auto& [reversed, count] : counts) {
    for (auto value = reversed.rbegin(); value != reversed.rend(); ++value) {
      bytes += *value < -99 || *value > 999 ? "***" : (std::snprintf(field, sizeof field, "%3d", *value), field);
    }
    bytes += count > 999999 ? " ******\r\n" : (std::snprintf(field, sizeof field, " %6d\r\n", static_cast<int>(count)), field);
  }
  return bytes;
}

// The records for the rows of a matrix stored column by column.
inline std::string ExpectedPatterns(int32_t ncases, int32_t nvars, const int32_t* cases) {
  PatternCounts counts;
  for (int32_t i = 0; i < ncases; ++i) {
    std::vector<int32_t> reversed;
    for (int32_t j = nvars - 1; j >= 0; --j) reversed.push_back(cases[i + static_cast<size_t>(j) * ncases]);
    ++counts[reversed];
  }
  return PatternRecords(counts);
}

// The 80 characters of the pattern record layout for `nvars` variables.
inline std::string RecordLayout(int32_t nvars) {
  char layout[81];
  std::snprintf(layout, sizeof layout, "((%4d(I3)),1X,I6)%62s", static_cast<int>(nvars), "");
  return layout;
}

using Row = std::vector<int32_t>;

// The rows as a case matrix, stored column by column.
inline std::vector<int32_t> ColumnMajor(const std::vector<Row>& rows) {
  size_t n = rows.size(), v = rows[0].size();
  std::vector<int32_t> matrix(n * v);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < v; ++j) matrix[i + j * n] = rows[i][j];
  }
  return matrix;
}

// The rows in pattern order, as a plain comparison gives it: the last variable first.
inline std::vector<Row> InPatternOrder(std::vector<Row> rows) {
  std::sort(rows.begin(), rows.end(),
            [](const Row& a, const Row& b) { return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend()); });
  return rows;
}

// Where a file's bytes first differ from those expected, in a few words:
// the files of a large run are too long for a test's own comparison to show.
inline std::string Difference(const std::optional<std::string>& got, const std::optional<std::string>& wanted) {
  if (!got || !wanted) return got ? "a file that should not be there" : "no file";
  size_t at =
      static_cast<size_t>(std::mismatch(got->begin(), got->end(), wanted->begin(), wanted->end()).first - got->begin());
  return "from byte " + std::to_string(at) + ": \"" + got->substr(at, 60) + "\" where \"" + wanted->substr(at, 60) +
         "\" was expected";
}

}  // namespace test_support
