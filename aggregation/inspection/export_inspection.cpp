// Reading a delimited export for its inspection: its records one at a time
// as field texts, each field's kind by the delimited reading's own rule;
// whether line 1 holds names; the columns kept and why the others are left
// out; the missing code; then the file read once more as the command so
// chosen reads it, its patterns counted.
#include "aggregation/inspection/export_inspection.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "aggregation/core/run_units.h"
#include "aggregation/inspection/inspection.h"
#include "aggregation/reading/pattern_table.h"
#include "textio/textio.h"

namespace {

void Note(FieldsMet& met, int64_t line, std::string_view text) {
  if (met.count++ > 0) return;
  met.firstLine = line;
  met.firstText = text;
}

textio::FieldKind KindOf(std::string_view text, char delimiter, int32_t& value) {
  return textio::FieldValue(text.data(), static_cast<int>(text.size()), delimiter, value);
}

// The fields of a column of a kind that is no whole number.
FieldsMet& MetOf(ColumnFacts& column, textio::FieldKind kind) {
  switch (kind) {
    case textio::FieldKind::Missing: return column.missing;
    case textio::FieldKind::Decimal: return column.decimals;
    case textio::FieldKind::TooLarge: return column.tooLarge;
    default: return column.text;
  }
}

void TakeField(ColumnFacts& column, std::string_view text, char delimiter, int64_t line) {
  int32_t value = 0;
  const textio::FieldKind kind = KindOf(text, delimiter, value);
  if (kind != textio::FieldKind::Whole) {
    column.rising = false;
    column.empty += kind == textio::FieldKind::Missing && text.empty();
    Note(MetOf(column, kind), line, text);
    return;
  }
  column.rising = column.rising && (column.values == 0 || value == static_cast<int32_t>(static_cast<uint32_t>(column.last) + 1));
  column.last = value;
  ++column.values;
  column.smallest = std::min(column.smallest, value);
  column.largest = std::max(column.largest, value);
  if (FitsField(value)) {
    const int32_t bit = value - kSmallestFitting;
    column.distinct = column.distinct && !column.Takes(value);
    column.seen[bit / 64] |= uint64_t{1} << (bit % 64);
  } else {
    Note(column.outside, line, text);
    // Values past the field are kept only while none comes twice, and only so many.
    column.distinct = column.distinct && column.outsideTaken.insert(value).second &&
                      static_cast<int64_t>(column.outsideTaken.size()) <= kCountedPatterns;
  }
  if (!column.distinct) column.outsideTaken = {};
}

// A record after the header: each of its fields in its column's facts,
// and the columns it is too short for.
void TakeRecord(ExportInspection& inspection, const RecordTexts& record) {
  if (inspection.records++ == 0) {
    inspection.fieldsFirst = record.fields;
  } else if (record.fields != inspection.fieldsFirst) {
    Note(inspection.otherFields, record.line, "");
  }
  std::vector<ColumnFacts>& columns = inspection.columns;
  if (record.kept > static_cast<int32_t>(columns.size())) {
    // Columns that earlier records lack.
    ColumnFacts lacking;
    lacking.absent.count = inspection.records - 1;
    lacking.absent.firstLine = inspection.firstRecordLine;
    columns.resize(static_cast<size_t>(record.kept), lacking);
  }
  if (inspection.records == 1) inspection.firstRecordLine = record.line;
  for (int32_t c = 0; c < static_cast<int32_t>(columns.size()); ++c) {
    ColumnFacts& column = columns[static_cast<size_t>(c)];
    if (c < record.kept) {
      TakeField(column, record.Text(c), inspection.delimiter, record.line);
    } else {
      column.rising = false;
      Note(column.absent, record.line, "");
    }
  }
}

// Whether the first record holds names: text in a column where the second
// record holds a value, a missing one too; with no second record, text anywhere.
bool HoldsNames(const RecordTexts& first, const RecordTexts* second, char delimiter) {
  for (int32_t c = 0; c < first.kept; ++c) {
    int32_t value = 0;
    if (KindOf(first.Text(c), delimiter, value) != textio::FieldKind::Text) continue;
    if (second == nullptr || c >= second->kept || KindOf(second->Text(c), delimiter, value) != textio::FieldKind::Text) {
      return true;
    }
  }
  return false;
}

// Why a column is left out, if it is. A column that counts up by one is the
// row names R writes or pandas' index, however few the records, where the
// header gives it no name; an ID, where its values do not fit the pattern file.
LeftOut Reason(const ColumnFacts& column, int64_t records, bool unnamed) {
  if (column.absent.count > 0) return LeftOut::Absent;
  if (column.text.count > 0) return LeftOut::Text;
  if (column.decimals.count > 0) return LeftOut::Decimals;
  if (column.tooLarge.count > 0) return LeftOut::TooLarge;
  if (column.values == 0) return LeftOut::NoValues;
  if (column.rising && records >= (unnamed || column.outside.count > 0 ? 2 : kIdCases)) return LeftOut::CountsUp;
  if (records >= kIdCases && column.values == records && column.distinct) return LeftOut::Distinct;
  return LeftOut::Kept;
}

// The code for missing answers: the first preferred one that no chosen
// column takes, else the largest value the pattern file shows that none takes.
bool ChooseMissingCode(const ExportInspection& inspection, int32_t& code) {
  const auto free = [&inspection](int32_t value) {
    return std::none_of(inspection.chosen.begin(), inspection.chosen.end(), [&](int32_t c) {
      return inspection.columns[static_cast<size_t>(c)].Takes(value);
    });
  };
  for (int32_t preferred : kPreferredCodes) {
    if (free(preferred)) {
      code = preferred;
      return true;
    }
  }
  for (code = kLargestFitting; code >= kSmallestFitting; --code) {
    if (free(code)) return true;
  }
  return false;
}

void Choose(ExportInspection& inspection) {
  for (size_t c = 0; c < inspection.columns.size(); ++c) {
    const bool unnamed = inspection.header && inspection.names.Text(static_cast<int32_t>(c)).empty();
    inspection.why.push_back(Reason(inspection.columns[c], inspection.records, unnamed));
    if (inspection.why.back() == LeftOut::Kept) inspection.chosen.push_back(static_cast<int32_t>(c));
  }
  inspection.columnsOption = inspection.chosen.size() != inspection.columns.size();
  inspection.missingCoded = std::any_of(inspection.chosen.begin(), inspection.chosen.end(), [&](int32_t c) {
    return inspection.columns[static_cast<size_t>(c)].missing.count > 0;
  });
  if (inspection.missingCoded && !ChooseMissingCode(inspection, inspection.missingCode)) inspection.chosen.clear();
}

// Whether a file whose fields blanks part is an export rather than free-form
// values: a header row, missing fields, or a column that looks like an ID.
bool ExportLike(const ExportInspection& inspection) {
  const auto idLike = [](LeftOut why) { return why == LeftOut::CountsUp || why == LeftOut::Distinct; };
  const auto missing = [](const ColumnFacts& column) { return column.missing.count > 0; };
  return inspection.delimiter != textio::kBlankRuns || inspection.header ||
         std::any_of(inspection.why.begin(), inspection.why.end(), idLike) ||
         std::any_of(inspection.columns.begin(), inspection.columns.end(), missing);
}

// The file read as the command reads it, its patterns counted.
void TryCommand(ExportInspection& inspection) {
  const auto nvars = static_cast<int32_t>(inspection.chosen.size());
  textio::LookAtFirstRecords(kDataUnit, inspection.delimiter);
  RecordTexts header;
  if (inspection.header) ReadRecordTexts(kDataUnit, inspection.delimiter, header);
  if (ReadChosenColumns(kDataUnit, inspection.delimiter, inspection.chosen, !inspection.columnsOption,
                        inspection.missingCoded, inspection.missingCode) != 0) {
    return;
  }
  PatternTable table(nvars, static_cast<int32_t>(std::min<int64_t>(kCountedPatterns, kCountedValueBytes / (4 * nvars))));
  std::vector<int32_t> row(static_cast<size_t>(nvars));
  int64_t cases = 0;
  textio::FieldFailure failure{};
  for (;; ++cases) {
    textio::beginRead(kDataUnit);
    textio::readIntegers(row.data(), nvars, 1);
    textio::endRead();
    if (textio::RecordsEnded(kDataUnit, &failure)) break;
    inspection.morePatterns = inspection.morePatterns || table.capacity == 0 || CountRow(table, row.data()) < 0;
  }
  inspection.tried = true;
  inspection.readAll = failure.kind == textio::FieldFailureKind::None && cases == inspection.records;
  inspection.patterns = table.patterns.keys;
  for (int32_t p = 0; p < table.patterns.keys; ++p) inspection.largestCount = std::max(inspection.largestCount, table.counts[p]);
}

bool OpenData(const char* name) {
  return textio::OpenUnit(kDataUnit, name, static_cast<int>(std::strlen(name)), "read", true) == 0;
}

}  // namespace

bool ColumnFacts::Takes(int32_t value) const {
  const int32_t bit = value - kSmallestFitting;
  return (seen[bit / 64] >> (bit % 64) & 1) != 0;
}

int32_t ColumnFacts::DistinctFitting() const {
  int32_t taken = 0;
  for (uint64_t word : seen) taken += std::popcount(word);
  return taken;
}

// Whether the free-form reading leaves something an export holds that the
// delimited reading mends: a value it cannot read, empty values, an empty
// field between tabs or a comma at a record's end, or a column that looks
// like an ID; with none of the free-form reading's own forms, and in
// records of one case each unless the cases run on only where a comma ends
// a record or a header row shifts them.
bool LooksLikeAnExport(const Inspection& inspection) {
  const bool mended = !RunWouldSucceed(inspection) || inspection.nulls.count > 0 || inspection.tabGaps.count > 0 ||
                      inspection.commaEnds.count > 0 || inspection.idVariable > 0;
  const bool oneRecordACase =
      inspection.recordsPerCase <= 1 || inspection.commaEnds.count > 0 || inspection.headerRow;
  return mended && oneRecordACase && inspection.repeatForms.count == 0 && inspection.slashes.count == 0;
}

bool InspectExport(const char* name, ExportInspection& inspection) {
  if (!OpenData(name)) return false;
  const char delimiter = textio::LookAtFirstRecords(kDataUnit, 0).delimiter;
  inspection.delimiter = delimiter;
  RecordTexts first, second;
  const int firstFields = ReadRecordTexts(kDataUnit, delimiter, first);
  const int secondFields = firstFields > 0 ? ReadRecordTexts(kDataUnit, delimiter, second) : firstFields;
  inspection.header = firstFields > 0 && (inspection.numberedHeader ||
                                          HoldsNames(first, secondFields > 0 ? &second : nullptr, delimiter));
  if (inspection.header) {
    inspection.names = first;
    inspection.columns.resize(static_cast<size_t>(first.kept));
  } else if (firstFields > 0) {
    TakeRecord(inspection, first);
  }
  int fields = secondFields;
  for (; fields > 0; fields = ReadRecordTexts(kDataUnit, delimiter, second)) TakeRecord(inspection, second);
  if (fields == textio::kOpenQuote) inspection.openQuoteLine = (firstFields > 0 ? second : first).line;
  inspection.lines = textio::RecordEndsPassed(kDataUnit);
  textio::CloseUnit(kDataUnit);
  if (!inspection.header && inspection.fieldsFirst < 2) return false;
  Choose(inspection);
  // With no column to read, the file's own report tells more.
  if (!ExportLike(inspection) || (inspection.chosen.empty() && inspection.openQuoteLine == 0)) return false;
  if (inspection.openQuoteLine != 0 || !OpenData(name)) return true;
  TryCommand(inspection);
  textio::CloseUnit(kDataUnit);
  return true;
}

int32_t ColumnOutside(const ExportInspection& inspection) {
  for (int32_t c : inspection.chosen) {
    if (inspection.columns[static_cast<size_t>(c)].outside.count > 0) return c;
  }
  return -1;
}

bool ExportRunSucceeds(const ExportInspection& inspection) {
  const auto nvars = static_cast<int64_t>(inspection.chosen.size());
  return ColumnOutside(inspection) < 0 && inspection.tried && inspection.readAll && inspection.records > 0 && FitsCount(inspection.largestCount) &&
         !(inspection.morePatterns && inspection.records > kLargestCount) &&
         inspection.records * nvars <= (int64_t{1} << 30) - 1;
}
