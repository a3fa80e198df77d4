// The ways SortCases orders the rows of the case matrix: by keys made from
// the rows' values, and in place when no scratch storage can be had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>

#include "textio/textio.h"

// Element (case i, variable j) of the case matrix, both 0-based.
inline int32_t* Column(int32_t* cases, int32_t ncases, int64_t j) {
  return cases + static_cast<size_t>(j) * static_cast<size_t>(ncases);
}

// Runs `beside` on a second thread while this one runs `here`; both are done
// on return. With no thread to be had, this one runs both.
template <typename Beside, typename Here>
void RunSideBySide(Beside beside, Here here) {
  std::thread helper;
  try {
    helper = std::thread(beside);
  } catch (const std::exception&) {  // no thread, or no memory for one
    beside();
  }
  here();
  if (helper.joinable()) helper.join();
}

// Scratch storage of the ordering: `bytes` zero-filled bytes, released when
// it goes out of scope; `data` stays null when the storage cannot be had.
struct Scratch {
  textio::ArrayDescriptor array{};
  unsigned char* data = nullptr;
  explicit Scratch(int64_t bytes);
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

// A column's place in the pattern key: its values less its smallest, in
// `width` bits from bit `shift` up. The last variable takes the highest
// bits, so that the key order is the pattern order.
struct KeyField {
  int32_t minimum;
  int32_t width;
  int64_t shift;
};

// Orders the rows by their keys; returns false, with the matrix unchanged,
// when the scratch storage cannot be had.
bool OrderByKeys(int32_t ncases, int32_t nvars, int32_t* cases);

// Rows that repeat few patterns, counted by pattern and written anew; false,
// with the matrix unchanged, when there are too many patterns or no room.
bool OrderByCounting(int32_t ncases, int32_t nvars, int32_t* cases);

// Keys wider than 64 bits: the rows are ordered through their row numbers
// by the key's highest bits, ties by the next bits, and so on; then every
// column is rearranged. Needs 8 bytes a case; false when they cannot be had.
bool OrderByKeyWindows(int32_t ncases, int32_t nvars, int32_t* cases, const KeyField* fields, int64_t bits);

// Orders the rows in place, moving whole rows, without any storage.
void OrderInPlace(int32_t ncases, int32_t nvars, int32_t* cases);
