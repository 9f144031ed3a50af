// Shared body of the vector loader fuzz targets: loads a vector record from
// arbitrary bytes. Every outcome must be a loaded vector or the thrown int
// -1, and vectors that shared the former block keep it.

#ifndef QMDATA_FUZZ_VECTOR_LOAD_H_
#define QMDATA_FUZZ_VECTOR_LOAD_H_

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "mathla/vector.h"
#include "rtarchive/archive.h"

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

#endif  // QMDATA_FUZZ_VECTOR_LOAD_H_
