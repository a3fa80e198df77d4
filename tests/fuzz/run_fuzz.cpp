// Fuzz target: the whole run through the layer, as the program makes it
// after its dialog: the data file read case by case, the cases ordered and
// the response pattern file written. When the reading succeeds, the file
// must hold one record per distinct pattern, in order, with its count.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "aggregation/Corvanesubs.h"
#include "fuzz_layer.h"
#include "textio/layer_state.h"

namespace {

constexpr size_t kHeaderSize = 3;

// The file the run must write for these cases (element (i, j) at i + j * ncases).
std::string ExpectedPatterns(int32_t ncases, int32_t nvars, const std::vector<int32_t>& cases) {
  // Reversed, a pattern orders as the program orders it: the last variable first.
  std::map<std::vector<int32_t>, int32_t> counts;
  for (int32_t i = 0; i < ncases; ++i) {
    std::vector<int32_t> reversed;
    for (int32_t j = nvars - 1; j >= 0; --j) reversed.push_back(cases[static_cast<size_t>(i + j * ncases)]);
    ++counts[reversed];
  }
  std::string bytes;
  char field[16];
  for (const auto& [reversed, count] : counts) {
    for (auto value = reversed.rbegin(); value != reversed.rend(); ++value) {
      bytes += *value < -99 || *value > 999 ? "***" : (std::snprintf(field, sizeof field, "%3d", *value), field);
    }
    std::snprintf(field, sizeof field, " %6d\r\n", count);
    bytes += field;
  }
  return bytes;
}

// The pattern record's layout, as the program builds it.
void BuildLayout(int32_t nvars, char* layout) {
  char count[4];
  textio::beginWrite(count, 4, "(I4)", 4);
  textio::writeInteger(nvars);
  textio::endWrite();
  const textio::TextPiece pieces[] = {{"((", 2}, {count, 4}, {"(I3)),1X,I6)", 12}};
  textio::concatenate(layout, kRecordLayoutLength, pieces, 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return -1;
  const int32_t ncases = 1 + (data[0] | (data[1] & 3) << 8);  // 1 to 1024
  const int32_t nvars = 1 + data[2] % 80;                      // the ordering changes method above 64
  static const std::string dataPath = fuzz::ScratchPath("cases.dat");
  static const std::string outputPath = fuzz::ScratchPath("patterns.txt");
  fuzz::WriteScratchFile(dataPath, data + kHeaderSize, size - kHeaderSize);
  unlink(outputPath.c_str());

  fuzz::FreshLayer();
  fuzz::Connect(1, dataPath, "read");
  textio::ArrayDescriptor matrix{};
  matrix.elementSize = sizeof(int32_t);
  matrix.rank = 2;
  matrix.bounds[0] = {1, ncases};
  matrix.bounds[1] = {1, nvars};
  int32_t status = 0;
  textio::AllocateArray(matrix, &status);
  if (status != 0) fuzz::Finding("no case matrix", std::to_string(ncases), std::to_string(nvars));
  int32_t* cases = static_cast<int32_t*>(matrix.data);
  try {
    for (int32_t i = 0; i < ncases; ++i) {
      textio::beginRead(1);
      textio::layer.run.statusWanted = true;  // an error now returns as a StatementReturn
      textio::readIntegers(cases + i, nvars, ncases);
      textio::endRead();
    }
  } catch (const textio::StatementReturn&) {
    textio::ReleaseArray(matrix);
    return 0;  // the run ends at its report
  }
  const std::vector<int32_t> read(cases, cases + static_cast<size_t>(ncases) * static_cast<size_t>(nvars));

  char layout[kRecordLayoutLength];
  BuildLayout(nvars, layout);
  SortCases(ncases, nvars, cases);
  textio::CloseUnit(1);
  fuzz::Connect(2, outputPath, "write");
  WritePatterns(ncases, nvars, cases, layout);
  textio::CloseUnit(2);
  textio::ReleaseArray(matrix);

  std::string written = fuzz::ReadScratchFile(outputPath);
  std::string expected = ExpectedPatterns(ncases, nvars, read);
  if (written != expected) fuzz::Finding("wrong response pattern file", expected, written);
  return 0;
}
