// The record layout of the pattern records, made as the run makes it: an
// internal write of the number of variables, then a concatenation.
#include "aggregation/writing/pattern_record.h"

#include "textio/textio.h"

void BuildRecordLayout(int32_t nvars, char* layout) {
  char count[4];
  textio::beginWrite(count, 4, "(I4)", 4);
  textio::writeInteger(nvars);
  textio::endWrite();
  const textio::TextPiece pieces[] = {{"((", 2}, {count, 4}, {"(I3)),1X,I6)", 12}};
  textio::concatenate(layout, kRecordLayoutLength, pieces, 3);
}
