// The pattern records of the ordered case matrix, or of the ordered keys of
// packed cases, one for each run of equal rows: written by the statements,
// or, where the pattern file takes blocks of records and the records fill
// more than one, by two threads that take the rows a piece at a time and
// pass each piece's records on in order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aggregation/core/packed_cases.h"

struct PatternTable;

// One pattern record to the pattern file's unit: `nvars` values, the k-th at values[k * stride],
// and the count, with the layout `recordLayout`.
void WritePatternRecord(const int32_t* values, ptrdiff_t stride, int32_t nvars, int32_t count,
                        const char* recordLayout);

// The rows of a piece for a run's writing: their records fill about one block.
int32_t PieceRows(int32_t nvars);

// Writes to the pattern file's unit the record of every run of equal rows of the ordered
// matrix, with the pattern record layout, as the statements alone write
// them: the same bytes, the same reports, the same counts of records and of
// fields written as asterisks. Rows are taken `pieceRows` at a time, each
// piece's records those of the runs that start in it.
void WriteRunRecords(int32_t ncases, int32_t nvars, const int32_t* cases, const char* recordLayout,
                     int32_t pieceRows);

// The same for the `ncases` ordered keys of packed cases: a key is a row.
void WritePackedRecords(const PackedCases& packed, int32_t ncases, const char* recordLayout, int32_t pieceRows);

// Writes one record per counted pattern to the pattern file's unit, in
// pattern order (the table's patterns ordered already), with the layout
// `recordLayout`.
void WriteCountedPatterns(const PatternTable& table, const char* recordLayout);
