// SPDX-License-Identifier: MIT
// QmMathLA::vector's element count limit, for the .inl files that vector.cpp
// includes. Internal; not installed.

#ifndef QMDATA_SRC_MATHLA_VECTOR_LIMITS_H_
#define QMDATA_SRC_MATHLA_VECTOR_LIMITS_H_

namespace QmMathLA {

// Element counts from here on would not fit the element array's byte size in
// 32 bits.
constexpr int kMaxElems = 0x40000000;

}  // namespace QmMathLA

#endif  // QMDATA_SRC_MATHLA_VECTOR_LIMITS_H_
