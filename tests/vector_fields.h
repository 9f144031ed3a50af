// Test support: reads a vector's five fields through a mirror of its
// standard layout, so tests can check shared counts and block identity.

#ifndef QMDATA_TESTS_VECTOR_FIELDS_H_
#define QMDATA_TESTS_VECTOR_FIELDS_H_

#include <cstring>
#include <type_traits>

#include "mathla/vector.h"

struct VectorFields {
  int n;
  int* data;
  int index;
  int* refs;
  int* lock;
};

static_assert(std::is_standard_layout_v<QmMathLA::vector<int>>);
static_assert(sizeof(VectorFields) == sizeof(QmMathLA::vector<int>));

inline VectorFields FieldsOf(const QmMathLA::vector<int>& v) {
  VectorFields f;
  std::memcpy(&f, static_cast<const void*>(&v), sizeof f);
  return f;
}

// The block's shared count, or 0 when the vector holds no counted block.
inline int SharedCount(const QmMathLA::vector<int>& v) {
  const VectorFields f = FieldsOf(v);
  return f.refs ? *f.refs : 0;
}

inline bool AllFieldsZero(const QmMathLA::vector<int>& v) {
  const VectorFields f = FieldsOf(v);
  return f.n == 0 && f.data == nullptr && f.index == 0 && f.refs == nullptr &&
         f.lock == nullptr;
}

#endif  // QMDATA_TESTS_VECTOR_FIELDS_H_
