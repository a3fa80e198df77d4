// Fuzz target: the whole run through the layer, as the program makes it
// after its dialog: the data file read case by case, the cases counted by
// pattern (in a table of a size the input chooses, so that it may fill up
// anywhere) or ordered, and the response pattern file written. When the
// reading succeeds, the file must hold one record per distinct pattern, in
// order, with its count, as a plain count of the cases read one by one says.
#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

#include "aggregation/core/matrix.h"
#include "aggregation/core/run_units.h"
#include "aggregation/run/case_pipeline.h"
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
  fuzz::Connect(kDataUnit, dataPath, "read");
  textio::ArrayDescriptor matrix = ArrayOf(sizeof(int32_t), ncases, nvars);
  int32_t status = 0;
  textio::AllocateArray(matrix, &status);
  if (status != 0) fuzz::Finding("no case matrix", std::to_string(ncases), std::to_string(nvars));
  int32_t* cases = static_cast<int32_t*>(matrix.data);
  try {
    for (int32_t i = 0; i < ncases; ++i) {
      textio::beginRead(kDataUnit);
      textio::layer.run.statusWanted = true;  // an error now returns as a StatementReturn
      textio::readIntegers(cases + i, nvars, ncases);
      textio::endRead();
    }
  } catch (const textio::StatementReturn&) {
    textio::ReleaseArray(matrix);
    return 0;  // the run ends at its report
  }
  const std::vector<int32_t> read(cases, cases + static_cast<size_t>(ncases) * static_cast<size_t>(nvars));

  // The run's own sequence, afresh.
  textio::CloseUnit(kDataUnit);
  fuzz::Connect(kDataUnit, dataPath, "read");
  std::fill_n(cases, read.size(), 0);
  CaseRun run{ncases, nvars, matrix, outputPath.data(), static_cast<int>(outputPath.size()), textio::NameForm::Whole, false, capacity};
  RunFindings findings;
  if (AggregateCases(run, findings) != 0) fuzz::Finding("no pattern file", outputPath, "");
  textio::CloseUnit(kPatternUnit);
  textio::ReleaseArray(matrix);

  std::string written = fuzz::ReadScratchFile(outputPath);
  std::string expected = test_support::ExpectedPatterns(ncases, nvars, read.data());
  if (written != expected) fuzz::Finding("wrong response pattern file", expected, written);
  return 0;
}
