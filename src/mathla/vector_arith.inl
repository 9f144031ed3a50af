// SPDX-License-Identifier: MIT
// QmMathLA::vector: element-wise arithmetic, products and comparison.
// Included once, by vector.cpp.
//
// Loops over the elements run one element at a time, in ascending order,
// whenever the range written overlaps a range read (the same vector, a
// shared block, overlapping adopted arrays, a factor that is an element):
// each step then sees the earlier steps' writes. Otherwise they go to the
// vectorised kernels of mathla/kernels.h, whose results are identical.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "mathla/kernels.h"
#include "mathla/vector.h"

namespace QmMathLA {

namespace arith {

using qmdata::detail::FromU;
using qmdata::detail::ToU;

enum class Op { kAdd, kSub, kMul };

template <Op kOp>
inline int Apply(int a, int b) {
  if constexpr (kOp == Op::kAdd) return FromU(ToU(a) + ToU(b));
  if constexpr (kOp == Op::kSub) return FromU(ToU(a) - ToU(b));
  return FromU(ToU(a) * ToU(b));
}

template <Op kOp>
inline qmdata::detail::BinaryKernel KernelOf(const qmdata::detail::Kernels& k) {
  if constexpr (kOp == Op::kAdd) return k.add;
  if constexpr (kOp == Op::kSub) return k.sub;
  return k.mul;
}

template <Op kOp>
inline qmdata::detail::InPlaceKernel InPlaceOf(
    const qmdata::detail::Kernels& k) {
  if constexpr (kOp == Op::kAdd) return k.add_to;
  if constexpr (kOp == Op::kSub) return k.sub_from;
  return k.mul_by;
}

// InPlace below where the operands overlap or src is strided: the element
// loop, or the kernel where both start at the same element (step i reads
// element i before writing it). Out of line, so that the common path saves
// no registers for it.
template <Op kOp>
[[gnu::noinline]] void InPlaceOverlapping(int* dst, const int* src,
                                          std::ptrdiff_t stride, int len) {
  if (stride == 1 && src == dst) {
    KernelOf<kOp>(qmdata::detail::Active())(dst, dst, src,
                                            static_cast<std::size_t>(len));
    return;
  }
  for (int i = 0; i < len; ++i) dst[i] = Apply<kOp>(dst[i], src[i * stride]);
}

// dst[i] = dst[i] op src[i * stride] for i below the common length of n and
// count, ascending.
template <Op kOp>
inline void InPlace(int* dst, int n, const int* src, std::ptrdiff_t stride,
                    int count) {
  const int len = std::min(n, count);
  if (len <= 0) return;
  const std::size_t ulen = static_cast<std::size_t>(len);
  if (stride == 1 && !qmdata::detail::Overlaps(dst, ulen, src, ulen)) {
    InPlaceOf<kOp>(qmdata::detail::Active())(dst, src, ulen);
    return;
  }
  InPlaceOverlapping<kOp>(dst, src, stride, len);
}

// out = a op src over the common length, then the rest of a. out is a fresh
// block of n elements, so nothing read can change while it is written.
template <Op kOp>
void IntoFresh(int* out, const int* a, int n, const int* src,
               std::ptrdiff_t stride, int count) {
  const int len = std::max(0, std::min(n, count));
  if (len > 0) {
    if (stride == 1) {
      KernelOf<kOp>(qmdata::detail::Active())(out, a, src,
                                              static_cast<std::size_t>(len));
    } else {
      for (int i = 0; i < len; ++i) out[i] = Apply<kOp>(a[i], src[i * stride]);
    }
  }
  if (n > len) {
    std::memcpy(out + len, a + len,
                static_cast<std::size_t>(n - len) * sizeof(int));
  }
}

// The reciprocal quotient 1 / divisor of the division operators.
inline int Reciprocal(int divisor) {
  if (divisor == 0) {
    throw std::domain_error("QmMathLA::vector: division by zero");
  }
  return 1 / divisor;
}

}  // namespace arith

// --- compound forms --------------------------------------------------------

template <typename T>
vector<T>& vector<T>::operator+=(const vector& other) {
  arith::InPlace<arith::Op::kAdd>(m_data, m_n, other.m_data, 1, other.m_n);
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator+=(const rowcol<T>& view) {
  arith::InPlace<arith::Op::kAdd>(m_data, m_n, view.m_data, view.m_stride,
                                  view.m_count);
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator-=(const vector& other) {
  arith::InPlace<arith::Op::kSub>(m_data, m_n, other.m_data, 1, other.m_n);
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator-=(const rowcol<T>& view) {
  arith::InPlace<arith::Op::kSub>(m_data, m_n, view.m_data, view.m_stride,
                                  view.m_count);
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator^=(const vector& other) {
  arith::InPlace<arith::Op::kMul>(m_data, m_n, other.m_data, 1, other.m_n);
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator^=(const rowcol<T>& view) {
  arith::InPlace<arith::Op::kMul>(m_data, m_n, view.m_data, view.m_stride,
                                  view.m_count);
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator*=(const T& factor) {
  if (m_n <= 0) return *this;
  const std::size_t n = static_cast<std::size_t>(m_n);
  if (!qmdata::detail::Overlaps(m_data, n, &factor, 1)) {
    qmdata::detail::Active().scale(m_data, m_data, factor, n);
    return *this;
  }
  // The factor is an element of this block: read it anew for every element,
  // so the elements after it see its new value.
  for (int i = 0; i < m_n; ++i) {
    m_data[i] = arith::Apply<arith::Op::kMul>(m_data[i], factor);
  }
  return *this;
}

template <typename T>
vector<T>& vector<T>::operator/=(const T& divisor) {
  const int q = arith::Reciprocal(divisor);  // before anything else
  if (m_n > 0) {
    qmdata::detail::Active().scale(m_data, m_data, q,
                                   static_cast<std::size_t>(m_n));
  }
  return *this;
}

// --- value forms -----------------------------------------------------------

template <typename T>
vector<T> vector<T>::operator+(const vector& other) {
  vector result = fresh(m_n, nullptr);
  arith::IntoFresh<arith::Op::kAdd>(result.m_data, m_data, result.m_n,
                                    other.m_data, 1, other.m_n);
  return result;
}

template <typename T>
vector<T> vector<T>::operator+(const rowcol<T>& view) {
  vector result = fresh(m_n, nullptr);
  arith::IntoFresh<arith::Op::kAdd>(result.m_data, m_data, result.m_n,
                                    view.m_data, view.m_stride, view.m_count);
  return result;
}

template <typename T>
vector<T> vector<T>::operator-(const vector& other) {
  vector result = fresh(m_n, nullptr);
  arith::IntoFresh<arith::Op::kSub>(result.m_data, m_data, result.m_n,
                                    other.m_data, 1, other.m_n);
  return result;
}

template <typename T>
vector<T> vector<T>::operator-(const rowcol<T>& view) {
  vector result = fresh(m_n, nullptr);
  arith::IntoFresh<arith::Op::kSub>(result.m_data, m_data, result.m_n,
                                    view.m_data, view.m_stride, view.m_count);
  return result;
}

template <typename T>
vector<T> vector<T>::operator^(const vector& other) {
  vector result = fresh(m_n, nullptr);
  arith::IntoFresh<arith::Op::kMul>(result.m_data, m_data, result.m_n,
                                    other.m_data, 1, other.m_n);
  return result;
}

template <typename T>
vector<T> vector<T>::operator^(const rowcol<T>& view) {
  vector result = fresh(m_n, nullptr);
  arith::IntoFresh<arith::Op::kMul>(result.m_data, m_data, result.m_n,
                                    view.m_data, view.m_stride, view.m_count);
  return result;
}

template <typename T>
vector<T> vector<T>::operator*(const T& factor) {
  const int f = factor;  // its value at the call, even if it is an element
  vector result = fresh(m_n, nullptr);
  if (result.m_n > 0) {
    qmdata::detail::Active().scale(result.m_data, m_data, f,
                                   static_cast<std::size_t>(result.m_n));
  }
  return result;
}

template <typename T>
vector<T> vector<T>::operator/(const T& divisor) {
  const int q = arith::Reciprocal(divisor);  // before anything else
  vector result = fresh(m_n, nullptr);
  if (result.m_n > 0) {
    qmdata::detail::Active().scale(result.m_data, m_data, q,
                                   static_cast<std::size_t>(result.m_n));
  }
  return result;
}

template <typename T>
vector<T> vector<T>::operator*(const matrix<T>& m) {
  const bool trans = m.m_trans != 0;
  const int inner = trans ? m.m_cols : m.m_rows;  // K
  const int outer = trans ? m.m_rows : m.m_cols;  // N, the result length
  vector result = fresh(outer < 1 ? 0 : outer, nullptr);
  if (result.m_n <= 0) return result;
  const std::size_t n = static_cast<std::size_t>(result.m_n);
  const int len = std::min(m_n, inner);
  if (len <= 0) {
    std::memset(result.m_data, 0, n * sizeof(int));
    return result;
  }
  const qmdata::detail::Kernels& k = qmdata::detail::Active();
  (trans ? k.vecmat_t : k.vecmat)(result.m_data, m_data, m.m_data, m.m_cols,
                                  static_cast<std::size_t>(len), n);
  return result;
}

// --- dot products ----------------------------------------------------------

template <typename T>
T vector<T>::operator*(const vector& other) {
  const int len = std::min(m_n, other.m_n);
  if (len <= 0) return 0;
  return qmdata::detail::Active().dot(m_data, other.m_data,
                                      static_cast<std::size_t>(len));
}

template <typename T>
T vector<T>::operator*(const rowcol<T>& view) {
  const int len = std::min(m_n, view.m_count);
  if (len <= 0) return 0;
  if (view.m_stride == 1) {
    return qmdata::detail::Active().dot(m_data, view.m_data,
                                        static_cast<std::size_t>(len));
  }
  const std::ptrdiff_t stride = view.m_stride;
  unsigned s = 0;
  for (int i = 0; i < len; ++i) {
    s += arith::ToU(m_data[i]) * arith::ToU(view.m_data[i * stride]);
  }
  return arith::FromU(s);
}

// --- comparison ------------------------------------------------------------

template <typename T>
int vector<T>::operator==(const vector& other) const {
  if (m_n != other.m_n) return 0;
  if (m_n <= 0 || m_data == other.m_data) return 1;
  return std::memcmp(m_data, other.m_data,
                     static_cast<std::size_t>(m_n) * sizeof(T)) == 0
             ? 1
             : 0;
}

template <typename T>
int vector<T>::operator!=(const vector& other) const {
  return *this == other ? 0 : 1;
}

template <typename T>
bool vector<T>::equals(vector& other) const {
  return equals(other, 1e-10);
}

template <typename T>
bool vector<T>::equals(vector& other, double tolerance) const {
  if (m_n != other.m_n) return false;
  for (int i = 0; i < m_n; ++i) {
    const int diff =
        arith::FromU(arith::ToU(m_data[i]) - arith::ToU(other.m_data[i]));
    // A NaN tolerance fails no pair: the comparison is false.
    if (std::fabs(static_cast<double>(diff)) > tolerance) return false;
  }
  return true;
}

}  // namespace QmMathLA
