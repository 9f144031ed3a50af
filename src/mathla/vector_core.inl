// SPDX-License-Identifier: MIT
// QmMathLA::vector: storage, sharing, the lock, element access and the
// cursor. Included once, by vector.cpp.

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <stdexcept>

#include "mathla/lockword.h"
#include "mathla/vector.h"
#include "mathla/vector_limits.h"

namespace QmMathLA {

namespace {

// index modulo n, brought into [0, n): a negative index counts from the end.
// REQUIRES: n > 0.
inline int WrapIndex(int index, int n) {
  assert(n > 0);
  int r = index % n;
  return r < 0 ? r + n : r;
}

}  // namespace

// --- private helpers -----------------------------------------------------

template <typename T>
void vector<T>::nullinit() {
  m_n = 0;
  m_data = nullptr;
  m_index = 0;
  m_refs = nullptr;
  m_lock = nullptr;
}

template <typename T>
void vector<T>::commoninit(int count, T* src, int adopt) {
  if (count <= 0) {
    nullinit();
  } else if (adopt != 0 && src != nullptr) {
    adoptinit(count, src);
  } else {
    allocinit(count, src);
  }
}

template <typename T>
void vector<T>::adoptinit(int count, T* src) {
  assert(count > 0 && src != nullptr);
  // Adopted or owned, a vector never has a count its byte size cannot hold.
  if (count >= kMaxElems) throw std::bad_array_new_length();
  m_n = count;
  m_data = src;
  m_index = 0;
  m_refs = nullptr;
  m_lock = nullptr;
}

template <typename T>
void vector<T>::allocinit(int count, const T* src) {
  assert(count > 0);
  if (count >= kMaxElems) throw std::bad_array_new_length();
  // Lock word, shared count, elements: allocated in this order, and released
  // again if a later allocation fails.
  int* lock = new int(0);
  int* refs = nullptr;
  T* block = nullptr;
  try {
    refs = new int(1);
    block = new T[static_cast<std::size_t>(count)];
  } catch (...) {
    delete refs;
    delete lock;
    throw;
  }
  if (src != nullptr) {
    std::memcpy(block, src, static_cast<std::size_t>(count) * sizeof(T));
  }
  m_n = count;
  m_data = block;
  m_index = 0;
  m_refs = refs;
  m_lock = lock;
}

template <typename T>
void vector<T>::getlock() const {
  if (m_lock != nullptr) qmdata::detail::LockWord(m_lock);
}

template <typename T>
void vector<T>::releaselock() const {
  if (m_lock != nullptr) qmdata::detail::UnlockWord(m_lock);
}

template <typename T>
void vector<T>::sharefrom(const vector& src) {
  src.getlock();
  m_n = src.m_n;
  m_data = src.m_data;
  m_index = src.m_index;
  m_refs = src.m_refs;
  m_lock = src.m_lock;
  if (m_n <= 0 || m_data == nullptr) {
    nullinit();
  } else if (m_refs != nullptr) {
    // One step away from zero: up for an owned block, down for an unhooked
    // one.
    *m_refs += (*m_refs >= 0) ? 1 : -1;
  }
  src.releaselock();
}

template <typename T>
void vector<T>::popinstance() {
  getlock();
  if (m_refs == nullptr) {
    releaselock();
    return;
  }
  const int c = *m_refs;
  if (c > 1 || c < -1) {
    *m_refs = c > 0 ? c - 1 : c + 1;
    releaselock();
    m_refs = nullptr;
    m_data = nullptr;
    m_lock = nullptr;
    return;
  }
  // Last sharer: nobody else can reach the block any more.
  if (c >= 0 && m_data != nullptr) {
    delete[] m_data;
    m_data = nullptr;
  }
  delete m_refs;
  m_refs = nullptr;
  if (m_lock != nullptr) {
    qmdata::detail::UnlockWord(m_lock);
    delete m_lock;
    m_lock = nullptr;
  }
}

template <typename T>
vector<T> vector<T>::fresh(int count, const T* src) {
  vector result;
  if (count > 0) result.allocinit(count, src);
  return result;
}

// --- construction, assignment, destruction -------------------------------

template <typename T>
vector<T>::vector() {
  nullinit();
}

template <typename T>
vector<T>::vector(const vector& src, int deep) {
  if (deep != 0) {
    nullinit();
    commoninit(src.m_n, src.m_data, 0);
  } else {
    sharefrom(src);
  }
}

template <typename T>
vector<T>::vector(const vector& src, int length, int offset) {
  nullinit();
  const int n = src.m_n;
  if (length <= 0) length = n;
  if (offset < 0) offset = 0;
  // In 64 bits: offset + length may exceed the int range.
  const long long stop =
      std::min<long long>(n, static_cast<long long>(offset) + length);
  const long long count = stop - offset;
  if (count <= 0) return;
  commoninit(static_cast<int>(count), src.m_data + offset, 0);
}

template <typename T>
vector<T>::vector(const rowcol<T>& view) {
  nullinit();
  const int n = view.m_count;
  if (n <= 0) return;
  commoninit(n, nullptr, 0);
  const std::ptrdiff_t stride = view.m_stride;
  for (int i = 0; i < n; ++i) m_data[i] = view.m_data[i * stride];
}

template <typename T>
vector<T>::vector(int count, const T* src, int adopt) {
  nullinit();
  // An adopted array is written through this vector although the parameter
  // points to const: the constructor's contract.
  commoninit(count, const_cast<T*>(src), adopt);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

template <typename T>
vector<T>::vector(const vector& src, vector& mask) {
  nullinit();
  int n = 0;
  {
    const vector share(src);  // the length, read under the source's lock
    n = share.m_n;
  }
  const int k = std::min(n, mask.m_n);
  int selected = 0;
  if (k <= 0) {
    selected = n;  // an empty mask selects everything
  } else {
    // Count with the mask's cursor, as its postfix increment moves it.
    mask.m_index = 0;
    for (int j = 0; j < k; ++j) {
      const int c = mask.m_index;
      if (mask.m_data[c] != 0) ++selected;
      mask.m_index = (c + 1 >= mask.m_n) ? 0 : c + 1;
    }
  }
  if (selected <= 0) return;
  if (selected == n) {
    commoninit(n, src.m_data, 0);
    return;
  }
  // Only mask entries 0 to k - 1 exist for this selection: the same ones the
  // count looked at, so exactly `selected` elements are written.
  commoninit(selected, nullptr, 0);
  int w = 0;
  for (int i = 0; i < k; ++i) {
    if (mask.m_data[i] != 0) m_data[w++] = src.m_data[i];
  }
}

template <typename T>
vector<T>::~vector() {
  popinstance();
}

template <typename T>
vector<T>& vector<T>::operator=(const vector& src) {
  if (this == &src) return *this;
  popinstance();  // under the old block's lock; no two locks are ever held
  sharefrom(src);
  return *this;
}

template <typename T>
T* vector<T>::unhook() {
  if (m_refs == nullptr) return nullptr;
  getlock();
  // The sign is tested under the lock: two sharers unhooking at once must
  // not both succeed and flip it back.
  if (*m_refs < 0) {
    releaselock();
    return nullptr;
  }
  *m_refs = -*m_refs;
  releaselock();
  return m_data;
}

// --- element access and cursor -------------------------------------------

template <typename T>
T& vector<T>::operator[](int index) const {
  if (m_n <= 0)
    throw std::out_of_range("QmMathLA::vector: index into empty vector");
  return m_data[WrapIndex(index, m_n)];
}

template <typename T>
T& vector<T>::operator*() const {
  if (m_n <= 0)
    throw std::out_of_range("QmMathLA::vector: cursor of empty vector");
  const int i = m_index;
  return m_data[(i >= 0 && i < m_n) ? i : WrapIndex(i, m_n)];
}

namespace {

// The element at cursor c, or null for an empty vector. REQUIRES: data holds
// n elements when n > 0.
template <typename T>
inline T* ElementAt(T* data, int n, int c) {
  assert(n <= 0 || data != nullptr);
  if (n <= 0) return nullptr;
  return data + ((c >= 0 && c < n) ? c : WrapIndex(c, n));
}

}  // namespace

template <typename T>
T* vector<T>::operator++() const {
  const int c = m_index + 1;
  m_index = (c >= m_n) ? 0 : c;
  return ElementAt(m_data, m_n, m_index);
}

template <typename T>
T* vector<T>::operator++(int) const {
  const int c = m_index;
  m_index = (c + 1 >= m_n) ? 0 : c + 1;
  return ElementAt(m_data, m_n, c);
}

template <typename T>
T* vector<T>::operator--() const {
  const int c = m_index - 1;
  m_index = (c < 0) ? m_n - 1 : c;
  return ElementAt(m_data, m_n, m_index);
}

template <typename T>
T* vector<T>::operator--(int) const {
  const int c = m_index;
  m_index = (c - 1 < 0) ? m_n - 1 : c - 1;
  return ElementAt(m_data, m_n, c);
}

template <typename T>
void vector<T>::setIndex(int index) const {
  m_index = (m_n > 0) ? WrapIndex(index, m_n) : 0;
}

}  // namespace QmMathLA
