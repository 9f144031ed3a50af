// SPDX-License-Identifier: MIT
// QmMathLA::vector: text output. Included once, by vector.cpp.

#include <iomanip>
#include <ostream>

#include "mathla/vector.h"

namespace QmMathLA {

// Each number gets std::setw(width) and nothing else: the stream's fill,
// adjustment and base stay as the caller set them, and an empty vector
// writes nothing, not even a width.
template <typename T>
void vector<T>::print(std::ostream& os, int width) const {
  const int n = m_n;  // read once
  for (int i = 0; i < n; ++i) {
    os << std::setw(width) << m_data[i] << (i + 1 < n ? '\t' : '\n');
  }
}

}  // namespace QmMathLA
