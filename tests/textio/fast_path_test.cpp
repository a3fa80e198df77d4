// The fast paths give exactly what the general rules give: values read
// many at once against the same values read one item at a time, and fields
// edited straight into a file's buffer against the same record written
// into an internal text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/process_runner.h"
#include "textio/layer_state.h"

namespace {

// One value in one of the forms a data file may hold, with its separator.
std::string RandomValue(std::mt19937& random) {
  static const char* const kRare[] = {"3*7", "2*",  "16#1F", "#a",         "+12",         "-0", "007",
                                      "1234567890", "-2147483648", ",", " ,", "\t", "2*-4", "4/"};
  std::uniform_int_distribution<int> pick(0, 99);
  int kind = pick(random);
  if (kind < 60) return std::to_string(static_cast<int>(random() % 10));
  if (kind < 80) return std::to_string(static_cast<int>(random() % 2000) - 1000);
  return kRare[random() % (sizeof kRare / sizeof kRare[0])];
}

std::string RandomSeparator(std::mt19937& random) {
  static const char* const kSeparators[] = {" ", " ", " ", ",", "  ", "\t", ", ", "\r\n", "\n", " \r\n", "\r"};
  return kSeparators[random() % (sizeof kSeparators / sizeof kSeparators[0])];
}

// A data file of random records, at least `bytes` long.
std::string RandomData(unsigned seed, size_t bytes) {
  std::mt19937 random(seed);
  std::string data;
  while (data.size() < bytes) {
    int values = 1 + static_cast<int>(random() % 12);
    for (int v = 0; v < values; ++v) data += RandomValue(random) + RandomSeparator(random);
    data += "\r\n";
  }
  // A quoted value ends the reading the same way on both paths.
  return data + "'5'\r\n";
}

// Reads statements of `width` items until the file ends; the values read,
// and the error that ended the reading.
struct Reading {
  std::vector<int32_t> values;
  std::string report;
  bool operator==(const Reading&) const = default;
};

Reading ReadAll(const std::string& directory, int width, bool allAtOnce) {
  test_support::RunOptions options;
  options.directory = directory;
  std::string out = directory + (allAtOnce ? "/fast.bin" : "/general.bin");
  auto result = test_support::RunInChild(
      [&] {
        textio::ResetLayer();
        textio::InitUnits(0, nullptr);
        if (textio::OpenUnit(1, "data.txt", 8, "read", true) != 0) return 3;
        std::vector<int32_t> row(static_cast<size_t>(width));
        FILE* file = std::fopen(out.c_str(), "wb");
        for (;;) {
          std::fill(row.begin(), row.end(), -7777);
          textio::beginRead(1);
          if (allAtOnce) {
            textio::readIntegers(row.data(), width, 1);
          } else {
            for (int32_t& item : row) textio::readInteger(item);
          }
          textio::endRead();
          std::fwrite(row.data(), sizeof(int32_t), row.size(), file);
          std::fflush(file);
        }
      },
      options);
  Reading reading;
  std::string bytes = test_support::ReadFileBytes(out).value_or("");
  reading.values.resize(bytes.size() / sizeof(int32_t));
  std::memcpy(reading.values.data(), bytes.data(), reading.values.size() * sizeof(int32_t));
  reading.report = result.standardError;
  return reading;
}

TEST(FastReading, AgreesWithTheGeneralRules) {
  std::string directory = test_support::MakeTemporaryDirectory();
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::string data = RandomData(seed, textio::kFileReadLoad + 4000);
    // Shift the data so that values lie across the end of the first load at every offset.
    for (int shift : {0, 1, 2, 3, 5, 8, 13}) {
      test_support::WriteFileBytes(directory + "/data.txt", std::string(static_cast<size_t>(shift), ' ') + data);
      int width = 1 + static_cast<int>(seed % 7);
      Reading fast = ReadAll(directory, width, true), general = ReadAll(directory, width, false);
      ASSERT_GT(general.values.size(), 10000u);
      EXPECT_NE(general.report.find("F6504"), std::string::npos) << general.report;
      EXPECT_EQ(fast, general) << "seed " << seed << " shift " << shift;
    }
  }
  test_support::RemoveDirectory(directory);
}

TEST(FastReading, ValueAcrossTheEndOfALoadAtEveryOffset) {
  std::string directory = test_support::MakeTemporaryDirectory();
  for (int offset = 1; offset <= 12; ++offset) {
    std::string data = std::string(static_cast<size_t>(textio::kFileReadLoad - offset), ' ') + "-123456789 7\r\n";
    test_support::WriteFileBytes(directory + "/data.txt", data);
    Reading fast = ReadAll(directory, 2, true);
    EXPECT_EQ(fast.values, (std::vector<int32_t>{-123456789, 7})) << offset;
  }
  test_support::RemoveDirectory(directory);
}

// A record written to a file, where fields go straight into the buffer,
// and into an internal text, where they go through the general placing.
TEST(FastWriting, AgreesWithTheGeneralPlacing) {
  struct Layout {
    const char* text;
    int fields;
  };
  static const Layout kLayouts[] = {{"((  20(I3)),1X,I6)", 21}, {"(I1,I2,3X,4I4)", 6}, {"(2(I5,2X),I11)", 3},
                                    {"(I16)", 1},  {"(20X,I3,I3.2,I6)", 3}, {"(12X,I5)", 1}, {"(I12)", 1}};
  std::mt19937 random(99);
  std::string directory = test_support::MakeTemporaryDirectory();
  for (const Layout& layout : kLayouts) {
    std::vector<int32_t> values(static_cast<size_t>(layout.fields));
    for (int32_t& v : values) {
      int kind = static_cast<int>(random() % 4);
      v = kind == 0 ? static_cast<int32_t>(random()) : static_cast<int32_t>(random() % 30000) - 15000;
      if (kind == 3) v = static_cast<int32_t>(random() % 10);
    }
    values[0] = INT32_MIN;
    int length = static_cast<int>(std::strlen(layout.text));
    test_support::RunOptions options;
    options.directory = directory;
    auto result = test_support::RunInChild(
        [&]() -> int {
          textio::ResetLayer();
          textio::InitUnits(0, nullptr);
          if (textio::OpenUnit(2, "out.txt", 7, "write", true) != 0) return 3;
          for (int repeat = 0; repeat < 60; ++repeat) {  // past the end of a load
            textio::beginWrite(2, layout.text, length);
            textio::writeIntegers(values.data(), layout.fields, 1);
            textio::endWrite();
          }
          char text[200];
          textio::beginWrite(text, sizeof text, layout.text, length);
          for (int32_t v : values) textio::writeInteger(v);
          textio::endWrite();
          std::string record(text, sizeof text);
          record.erase(record.find_last_not_of(' ') + 1);
          test_support::WriteFileBytes("internal.txt", record);
          textio::ExitRun(0);
        },
        options);
    ASSERT_EQ(result.exitStatus, 0) << layout.text << result.standardError;
    std::string internal = test_support::ReadFileBytes(directory + "/internal.txt").value();
    std::string expected;
    for (int repeat = 0; repeat < 60; ++repeat) expected += internal + "\r\n";
    EXPECT_EQ(test_support::ReadFileBytes(directory + "/out.txt"), expected) << layout.text;
  }
  test_support::RemoveDirectory(directory);
}

}  // namespace
