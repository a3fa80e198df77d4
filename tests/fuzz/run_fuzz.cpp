// Fuzz target: the whole run through the layer, as the program makes it
// after its dialog: the data file read case by case, the cases counted by
// pattern (in a table of a size the input chooses, so that it may fill up
// anywhere) or ordered, and the response pattern file written. When the
// reading succeeds, the file must hold one record per distinct pattern, in
// order, with its count, as a plain count of the cases read one by one says.
#include <unistd.h>

#include <string>
#include <vector>

#include <algorithm>

#include "aggregation/reading/case_reading.h"
#include "aggregation/run/Corvanesubs.h"
#include "fuzz_layer.h"
#include "support/patterns.h"
#include "textio/layer_state.h"

constexpr size_t kHeaderSize = 3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return -1;
  const int32_t ncases = 1 + (data[0] | (data[1] & 3) << 8);  // 1 to 1024
  const int32_t nvars = 1 + data[2] % 80;                      // the ordering changes method above 64
  const int32_t capacity = data[1] >> 2;                       // patterns counted at most; 0: none
  static const std::string dataPath = fuzz::ScratchPath("cases.dat");
  static const std::string outputPath = fuzz::ScratchPath("patterns.txt");
  fuzz::WriteScratchFile(dataPath, data + kHeaderSize, size - kHeaderSize);
  unlink(outputPath.c_str());

  fuzz::FreshLayer();
  fuzz::Connect(1, dataPath, "read");
  textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), ncases, nvars);
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

  // The run's own reading, afresh.
  textio::CloseUnit(1);
  fuzz::Connect(1, dataPath, "read");
  std::fill_n(cases, read.size(), 0);
  PatternTable table(nvars, capacity);
  bool counted = ReadCases(ncases, nvars, matrix, table);
  const std::string layout = test_support::RecordLayout(nvars);
  if (counted) {
    OrderPatterns(table);
  } else {
    SortCases(ncases, nvars, cases);
  }
  textio::CloseUnit(1);
  fuzz::Connect(2, outputPath, "write");
  if (counted) {
    WriteCountedPatterns(table, layout.data());
  } else {
    WritePatterns(ncases, nvars, cases, layout.data());
  }
  textio::CloseUnit(2);
  textio::ReleaseArray(matrix);

  std::string written = fuzz::ReadScratchFile(outputPath);
  std::string expected = test_support::ExpectedPatterns(ncases, nvars, read.data());
  if (written != expected) fuzz::Finding("wrong response pattern file", expected, written);
  return 0;
}
