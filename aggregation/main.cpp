// The aggregation run: the dialog, the reading of the cases, their ordering
// and the response pattern file, one step after the other.
#include <algorithm>
#include <cstring>

#include "aggregation/Corvanesubs.h"
#include "aggregation/usage.h"
#include "textio/textio.h"

namespace {

// The run's parameters and data, living for the whole run.
char dataFileName[kNameFieldLength];
char outputFileName[kNameFieldLength];
int32_t ncases = 0;
int32_t nvars = 0;
int32_t openStatus = 0;
int32_t allocationStatus = 0;
textio::ArrayDescriptor caseMatrix{};
char recordLayout[kRecordLayoutLength];

// The layout of a pattern record: nvars three-character values, a blank and
// a six-character count.
void BuildRecordLayout() {
  char count[4];
  textio::beginWrite(count, 4, "(I4)", 4);
  textio::writeInteger(nvars);
  textio::endWrite();
  const textio::TextPiece pieces[] = {{"((", 2}, {count, 4}, {"(I3)),1X,I6)", 12}};
  textio::concatenate(recordLayout, kRecordLayoutLength, pieces, 3);
}

// Reads the cases, one read statement each, a block of cases at a time into
// rows that are then moved into the columns of the case matrix: a case read
// straight into its columns would touch a cache line in every column.
// Values a case leaves without one stay 0, as in the matrix.
void ReadCases(int32_t* cases) {
  constexpr int64_t kBlockValues = 16384;
  int64_t blockRows = std::min<int64_t>(std::max<int64_t>(kBlockValues / nvars, 1), ncases);
  textio::ArrayDescriptor block{};
  block.elementSize = sizeof(int32_t);
  block.rank = 2;
  block.bounds[0] = {1, nvars};
  block.bounds[1] = {1, blockRows};
  int32_t status = 0;
  textio::AllocateArray(block, &status);
  if (status != 0) {
    for (int32_t i = 0; i < ncases; ++i) {
      textio::beginRead(1);
      textio::readIntegers(cases + i, nvars, ncases);
      textio::endRead();
    }
    return;
  }
  auto* rows = static_cast<int32_t*>(block.data);
  const auto width = static_cast<size_t>(nvars);
  for (int32_t first = 0; first < ncases; first += static_cast<int32_t>(blockRows)) {
    auto count = static_cast<size_t>(std::min<int64_t>(blockRows, ncases - first));
    std::fill_n(rows, count * width, 0);
    for (size_t r = 0; r < count; ++r) {
      textio::beginRead(1);
      textio::readIntegers(rows + r * width, nvars, 1);
      textio::endRead();
    }
    for (size_t j = 0; j < width; ++j) {
      int32_t* column = cases + j * static_cast<size_t>(ncases) + static_cast<size_t>(first);
      for (size_t r = 0; r < count; ++r) column[r] = rows[r * width + j];
    }
  }
  textio::ReleaseArray(block);
}

}  // namespace

void RunAggregation() {
  AskRunParameters(dataFileName, outputFileName, ncases, nvars);

  openStatus = textio::OpenUnit(1, dataFileName, kNameFieldLength, "read", true);
  if (openStatus != 0) Refuse("Error opening individual level data file.");
  allocationStatus = 0;
  caseMatrix.elementSize = sizeof(int32_t);
  caseMatrix.rank = 2;
  caseMatrix.bounds[0] = {1, ncases};
  caseMatrix.bounds[1] = {1, nvars};
  textio::AllocateArray(caseMatrix, &allocationStatus);
  if (allocationStatus != 0) Refuse("Program could not allocate space for individual level data.");
  int32_t* cases = static_cast<int32_t*>(caseMatrix.data);

  WriteConsoleLine("Reading the data...");
  ReadCases(cases);

  BuildRecordLayout();
  WriteConsoleLine("Sorting....");
  SortCases(ncases, nvars, cases);
  textio::CloseUnit(1);

  openStatus = textio::OpenUnit(2, outputFileName, kNameFieldLength, "write", true);
  if (openStatus != 0) Refuse("Error creating output file.");
  WriteConsoleLine("Writing output file...");
  WritePatterns(ncases, nvars, cases, recordLayout);
  WriteConsoleLine("Done.");
}

int main(int argc, char** argv) {
  textio::InitUnits(argc, argv);
  AnswerInformationRequest(argc, argv);
  RunAggregation();
  textio::ExitRun(0);
}
