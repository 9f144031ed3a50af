// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the quality-tag reader: it either yields 0 or 1
// or throws the int -1 and leaves the tag alone.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "drange/qualtag.h"
#include "rtarchive/archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  QmRTArchive in(is);
  while (true) {
    qmo_qualtag tag = static_cast<qmo_qualtag>(7);
    try {
      in >> tag;
    } catch (int e) {
      if (e != -1 || tag != 7) std::abort();
      return 0;
    }
    if (tag != qmo_qual_bad && tag != qmo_qual_good) std::abort();
  }
}
