// SPDX-License-Identifier: MIT
// Shared bodies of the record loader fuzz targets.

#ifndef QMDATA_FUZZ_RECORDS_H_
#define QMDATA_FUZZ_RECORDS_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "mathla/vector.h"
#include "rtarchive/archive.h"

// Loads a vector record from arbitrary bytes. Every outcome must be a loaded
// vector or the thrown int -1, and vectors that shared the former block keep
// it.
inline void LoadVectorRecord(const std::uint8_t* data, std::size_t size,
                             bool compressed) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  QmRTArchive ar(is);
  static const int kOld[] = {1, 2, 3};
  QmMathLA::vector<int> v(3, kOld, 0);
  const QmMathLA::vector<int> sharer = v;
  try {
    v.Serialize(ar, compressed);
  } catch (int e) {
    if (e != -1) __builtin_trap();
  }
  // A loaded vector's count never exceeds its block.
  if (v.elems() > 0) {
    volatile int last = v[v.elems() - 1];
    (void)last;
  }
  if (sharer.elems() != 3 || sharer[2] != 3) __builtin_trap();
}

// Loads value from arbitrary bytes with operator>>. The load either succeeds
// or throws the int -1, after which refused(value) runs; a loaded value must
// store and load back equal.
template <typename T, typename Refused>
void LoadStoreReload(const std::uint8_t* data, std::size_t size, T value,
                     Refused refused) {
  std::istringstream is(std::string(reinterpret_cast<const char*>(data), size));
  QmRTArchive in(is);
  try {
    in >> value;
  } catch (int e) {
    if (e != -1) std::abort();
    refused(value);
    return;
  }
  std::ostringstream os;
  QmRTArchive out(os);
  out << value;
  std::istringstream again(os.str());
  QmRTArchive in_again(again);
  T copy;
  in_again >> copy;
  if (copy != value) std::abort();
}

#endif  // QMDATA_FUZZ_RECORDS_H_
