// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the slice loader (version, nested vector record,
// range record). A load either succeeds or throws the int -1; a loaded slice
// must store and load back equal.

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "drange/dataslice.h"

#include "records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const int vars[] = {1, 2};
  LoadStoreReload(data, size,
                  QmDataSlice(QmMathLA::vector<int>(2, vars, 0), 3, 4),
                  [](QmDataSlice& kept) {
                    // Whatever was kept must still be usable.
                    std::ostringstream text;
                    kept.Print(text, -1);
                  });
  return 0;
}
