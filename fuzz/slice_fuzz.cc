// Feeds arbitrary bytes to the slice loader (version, nested vector record,
// range record). A load either succeeds or throws the int -1; a loaded slice
// must store and load back equal.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "drange/dataslice.h"
#include "rtarchive/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  QmRTArchive in(is);
  int vars[] = {1, 2};
  QmDataSlice slice(QmMathLA::vector<int>(2, vars, 0), 3, 4);
  try {
    in >> slice;
  } catch (int e) {
    if (e != -1) std::abort();
    // Whatever was kept must still be usable.
    std::ostringstream text;
    slice.Print(text, -1);
    return 0;
  }
  std::ostringstream os;
  QmRTArchive out(os);
  out << slice;
  std::istringstream again(os.str());
  QmRTArchive in_again(again);
  QmDataSlice loaded;
  in_again >> loaded;
  if (loaded != slice) std::abort();
  return 0;
}
