// SPDX-License-Identifier: MIT
// Loads a compressed vector record from arbitrary bytes.

#include <cstddef>
#include <cstdint>

#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  LoadVectorRecord(data, size, true);
  return 0;
}
