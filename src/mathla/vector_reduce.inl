// SPDX-License-Identifier: MIT
// QmMathLA::vector: reductions, statistics and fills. Included once, by
// vector.cpp.

#include <algorithm>
#include <cassert>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "mathla/kernels.h"
#include "mathla/vector.h"

namespace QmMathLA {

namespace reduce {

// The extremes scan in blocks of this many elements, so that the search for
// the first position touches one block that was just read, not the whole
// vector again.
constexpr std::size_t kBlock = 4096;

// The extreme of a[0 .. n) chosen by `pick` (a kernel over a block) and the
// first position where `find` sees it. REQUIRES: n >= 1.
inline int FirstExtreme(const int* a, std::size_t n,
                        qmdata::detail::ReduceKernel pick,
                        qmdata::detail::FindKernel find, bool greater,
                        int& index) {
  assert(n >= 1);
  // best is the extreme so far and `from` the first block that holds it: a
  // later block replaces it only with a strictly better value.
  int best = pick(a, 1);
  std::size_t from = 0;
  for (std::size_t start = 0; start < n; start += kBlock) {
    const int m = pick(a + start, std::min(kBlock, n - start));
    if (greater ? m > best : m < best) {
      best = m;
      from = start;
    }
  }
  index =
      static_cast<int>(from + find(a + from, std::min(kBlock, n - from), best));
  return best;
}

// The truncated square root of a sum of squares; -2147483648 when the sum
// wrapped negative, where the root is undefined.
inline int RootOf(int s) {
  if (s < 0) return INT_MIN;
  // The root of an int is at most 46340.95, so the conversion is exact.
  return static_cast<int>(std::sqrt(static_cast<double>(s)));
}

}  // namespace reduce

template <typename T>
T vector<T>::sum() const {
  if (m_data == nullptr || m_n <= 0) return 0;
  return qmdata::detail::Active().sum(m_data, static_cast<std::size_t>(m_n));
}

template <typename T>
T vector<T>::sumsq() const {
  if (m_data == nullptr || m_n <= 0) return 0;
  return qmdata::detail::Active().sumsq(m_data, static_cast<std::size_t>(m_n));
}

template <typename T>
T vector<T>::norm() const {
  return reduce::RootOf(sumsq());
}

template <typename T>
T vector<T>::rms() const {
  if (m_n <= 0) return 0;
  return reduce::RootOf(sumsq() / m_n);  // divide first, then the root
}

template <typename T>
T vector<T>::maxabs(int& index) const {
  index = 0;
  if (m_data == nullptr || m_n <= 0) return 0;
  const qmdata::detail::Kernels& k = qmdata::detail::Active();
  return reduce::FirstExtreme(m_data, static_cast<std::size_t>(m_n), k.maxabs,
                              k.find_abs, true, index);
}

template <typename T>
T vector<T>::maximum(int& index) const {
  index = 0;
  if (m_data == nullptr || m_n <= 0) return 0;
  const qmdata::detail::Kernels& k = qmdata::detail::Active();
  return reduce::FirstExtreme(m_data, static_cast<std::size_t>(m_n), k.max,
                              k.find_eq, true, index);
}

template <typename T>
T vector<T>::minimum(int& index) const {
  index = 0;
  if (m_data == nullptr || m_n <= 0) return 0;
  const qmdata::detail::Kernels& k = qmdata::detail::Active();
  return reduce::FirstExtreme(m_data, static_cast<std::size_t>(m_n), k.min,
                              k.find_eq, false, index);
}

template <typename T>
void vector<T>::constant(const T& value) {
  if (m_n <= 0) return;
  const T v = value;  // its value at the call, even if it is an element
  std::fill_n(m_data, m_n, v);
}

template <typename T>
void vector<T>::zero() {
  if (m_n <= 0) return;
  std::memset(m_data, 0, static_cast<std::size_t>(m_n) * sizeof(T));
}

template <typename T>
void vector<T>::detrend() {
  if (m_n < 1) return;
  // The truncated mean, taken once before any element changes.
  const unsigned mean = qmdata::detail::ToU(sum() / m_n);
  for (int i = 0; i < m_n; ++i) {
    m_data[i] = qmdata::detail::FromU(qmdata::detail::ToU(m_data[i]) - mean);
  }
}

}  // namespace QmMathLA
