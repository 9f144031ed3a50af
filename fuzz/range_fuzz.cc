// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the range loader. A load either succeeds or
// throws the int -1; a loaded range must store and load back unchanged.

#include <cstddef>
#include <cstdint>

#include "drange/datarange.h"

#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  LoadStoreReload(data, size, QmDataRange(3, 4), [](QmDataRange&) {});
  return 0;
}
