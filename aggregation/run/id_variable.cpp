// Finding a variable with a different value in every case: only a column
// whose values span as many as there are cases can be one, and only such a
// column is sorted, in storage of its own.
#include "aggregation/run/id_variable.h"

#include <algorithm>

#include "aggregation/core/matrix.h"
#include "aggregation/core/scratch.h"
#include "aggregation/inspection/inspection.h"
#include "aggregation/reading/case_packing.h"

namespace {

// Whether the column's `ncases` values are all different.
bool AllDifferent(const int32_t* column, int32_t ncases) {
  const auto [smallest, largest] = std::minmax_element(column, column + ncases);
  if (int64_t{*largest} - *smallest + 1 < ncases) return false;
  Scratch sorted(int64_t{4} * ncases);
  if (sorted.data == nullptr) return false;
  auto* values = reinterpret_cast<int32_t*>(sorted.data);
  std::copy_n(column, ncases, values);
  std::sort(values, values + ncases);
  return std::adjacent_find(values, values + ncases) == values + ncases;
}

}  // namespace

int32_t IdVariable(CasesHeld held, const PatternTable& patterns, const PackedCases& packed, int32_t* cases,
                   int32_t ncases, int32_t nvars) {
  if (ncases < kIdCases) return 0;
  switch (held) {
    case CasesHeld::Counted:
      if (patterns.patterns.keys != ncases) return 0;
      ExpandPatterns(patterns, cases, ncases);
      break;
    case CasesHeld::Packed:
      // A field of so few bits cannot hold as many different values.
      if (packed.packing.bits < 31 && int64_t{1} << packed.packing.bits < ncases) return 0;
      UnpackIntoColumns(packed, ncases, cases, ncases);
      break;
    case CasesHeld::InMatrix:
      break;
  }
  for (int32_t j = 0; j < nvars; ++j) {
    if (AllDifferent(Column(cases, ncases, j), ncases)) return j + 1;
  }
  return 0;
}
