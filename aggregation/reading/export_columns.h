// The columns of a delimited export: the names its header row gives them,
// a --columns list read against them or written for a command, and the
// form in which the data file's unit reads the chosen ones as a case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "textio/textio.h"

// Fields of a record whose texts are kept, at most: columns past them have
// positions only.
inline constexpr int32_t kNamedColumns = 16384;

// The texts of a record's fields, from the first: a header row's are the
// columns' names.
struct RecordTexts {
  std::vector<char> text;
  std::vector<textio::FieldPlace> places;
  int32_t fields = 0;  // the record's fields
  int32_t kept = 0;    // of them, those whose texts are kept
  int64_t line = 0;    // where the record starts
  std::string_view Text(int32_t field) const;  // empty for a field not kept
};

// Reads the unit's next record into `texts`. Returns its number of fields,
// or kNoMoreRecords, or kOpenQuote (textio.h).
int ReadRecordTexts(int unit, char delimiter, RecordTexts& texts);

// How messages name a column (from 0): its header name, else "column N".
std::string ColumnLabel(const RecordTexts* names, int32_t column);

// Why a --columns list cannot be read.
enum class ListFault : uint8_t { None, Empty, UnknownName, NotAPosition, PastLastField, Backwards, Ambiguous, Twice };
struct ListReading {
  ListFault fault = ListFault::None;
  std::string item;             // the item at fault
  std::vector<int32_t> chosen;  // the columns, from 0, in the order given
};
// Reads a list of items parted by commas: a column's header name or its
// position from 1, or a range of them, first-last, taking the columns from
// first through last in the file's order. An exact header name always wins
// over a reading as a position or a range. `names` is null without a
// header; `fields` the columns a record holds.
ListReading ReadColumnList(const char* list, const RecordTexts* names, int32_t fields);
// The list that reads as `chosen`: by names where each chosen column has a
// plain one (letters, digits, _ and .) and the list reads back the same,
// else by positions; runs of columns as ranges.
std::string WriteColumnList(const std::vector<int32_t>& chosen, const RecordTexts* names, int32_t fields);

// The smallest number of bytes a record holding the chosen columns takes:
// a delimiter before each field up to the last chosen, a byte in each
// chosen one unless it may be missing, and a line end.
int64_t LeastRecordBytes(const std::vector<int32_t>& chosen, bool missingGiven);

// Sets the unit to read the chosen columns, in their order, as the
// variables of a case; `everyField` when every record must hold just those.
// Returns 0, or the error number when the layer's memory cannot be had.
int ReadChosenColumns(int unit, char delimiter, const std::vector<int32_t>& chosen, bool everyField,
                      bool missingGiven, int32_t missingCode);
