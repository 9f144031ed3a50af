// Feeds arbitrary bytes to the range loader. A load either succeeds or
// throws the int -1; a loaded range must store and load back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "drange/datarange.h"
#include "rtarchive/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  QmRTArchive in(is);
  QmDataRange range(3, 4);
  try {
    in >> range;
  } catch (int e) {
    if (e != -1) std::abort();
    return 0;
  }
  std::ostringstream os;
  QmRTArchive out(os);
  out << range;
  std::istringstream again(os.str());
  QmRTArchive in_again(again);
  QmDataRange copy;
  in_again >> copy;
  if (copy != range) std::abort();
  return 0;
}
