// SPDX-License-Identifier: MIT
// The library's one instance of QmMathLA::vector: the member definitions are
// split by concern into the .inl files below, in the order they build on each
// other (storage and sharing first, the archive record last), and
// instantiated here once.

#include "mathla/vector.h"

#include "mathla/vector_core.inl"
#include "mathla/vector_arith.inl"
#include "mathla/vector_reduce.inl"
#include "mathla/vector_print.inl"
#include "mathla/vector_archive.inl"

namespace QmMathLA {

template class vector<int>;

}  // namespace QmMathLA
