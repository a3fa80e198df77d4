// Scratch storage for the orderings and countings: a block of bytes that
// lives as long as its scope, got from the layer as an array is.
#pragma once

#include <cstdint>

#include "aggregation/core/matrix.h"
#include "textio/textio.h"

// `bytes` zero-filled bytes, released when it goes out of scope; `data`
// stays null when the storage cannot be had.
struct Scratch {
  textio::ArrayDescriptor array;
  unsigned char* data = nullptr;

  explicit Scratch(int64_t bytes) : array(ArrayOf(1, bytes)) {
    int32_t status = 0;
    textio::AllocateArray(array, &status);
    if (status == 0) data = static_cast<unsigned char*>(array.data);
  }
  ~Scratch() {
    if (data != nullptr) textio::ReleaseArray(array);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};
