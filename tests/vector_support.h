// SPDX-License-Identifier: MIT
// Test support for QmMathLA::vector<int>: building one from a list, its
// elements, and its five fields read through a mirror of its standard layout,
// so tests can check shared counts and block identity; the text that a
// value prints; and, for the kernel tests, every instruction-set level.

#ifndef QMDATA_TESTS_VECTOR_SUPPORT_H_
#define QMDATA_TESTS_VECTOR_SUPPORT_H_

#include <atomic>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "mathla/vector.h"

using Vec = QmMathLA::vector<int>;
// Elements as a list, to compare with Elements(v).
using IntList = std::vector<int>;

struct VectorFields {
  int n;
  int* data;
  int index;
  int* refs;
  int* lock;
};

static_assert(std::is_standard_layout_v<Vec>);
static_assert(sizeof(VectorFields) == sizeof(Vec));

inline VectorFields FieldsOf(const Vec& v) {
  VectorFields f;
  std::memcpy(&f, static_cast<const void*>(&v), sizeof f);
  return f;
}

// A vector holding a copy of the given elements.
inline Vec Make(const std::vector<int>& e) {
  return Vec(static_cast<int>(e.size()), e.data(), 0);
}

// The elements as the block holds them (read without operator[]).
inline std::vector<int> Elements(const Vec& v) {
  const VectorFields f = FieldsOf(v);
  return f.n > 0 ? std::vector<int>(f.data, f.data + f.n) : std::vector<int>();
}

// The block's shared count, or 0 when the vector holds no counted block.
inline int SharedCount(const Vec& v) {
  const VectorFields f = FieldsOf(v);
  return f.refs ? *f.refs : 0;
}

inline bool AllFieldsZero(const Vec& v) {
  const VectorFields f = FieldsOf(v);
  return f.n == 0 && f.data == nullptr && f.index == 0 && f.refs == nullptr &&
         f.lock == nullptr;
}

// The text value prints: with a width, its line through print or Print;
// without one, what operator<< writes. A non-const value takes the non-const
// overloads.
template <typename T, typename... Width>
std::string Printed(T&& value, Width... width) {
  std::ostringstream os;
  if constexpr (sizeof...(width) == 0) {
    os << value;
  } else if constexpr (requires { value.print(os, width...); }) {
    value.print(os, width...);
  } else {
    value.Print(os, width...);
  }
  return os.str();
}

// A reusable rendezvous of n threads that spins with a yield, so that the
// threads' loops overlap. (std::barrier's blocking wait proved unreliable on
// one of the Windows toolchains.)
class SpinBarrier {
 public:
  explicit SpinBarrier(int n) : n_(n) {}
  void ArriveAndWait() {
    const int gen = generation_.load(std::memory_order_acquire);
    if (arrived_.fetch_add(1, std::memory_order_acq_rel) == n_ - 1) {
      arrived_.store(0, std::memory_order_relaxed);
      generation_.fetch_add(1, std::memory_order_acq_rel);
      return;
    }
    while (generation_.load(std::memory_order_acquire) == gen) {
      std::this_thread::yield();
    }
  }

 private:
  const int n_;
  std::atomic<int> arrived_{0};
  std::atomic<int> generation_{0};
};

// The element as unsigned, for the expected values' wrapping arithmetic.
inline unsigned U(int v) { return static_cast<unsigned>(v); }

// The kernel tests link the internal loops, which puts their header in reach.
#if __has_include("mathla/kernels.h")
#include "mathla/kernels.h"

// Every instruction-set level this build and CPU have, baseline first.
inline std::vector<const qmdata::detail::Kernels*> Levels() {
  using qmdata::detail::Isa;
  std::vector<const qmdata::detail::Kernels*> out;
  for (Isa isa : {Isa::kBaseline, Isa::kAvx2, Isa::kAvx512}) {
    if (const auto* k = qmdata::detail::KernelsFor(isa)) out.push_back(k);
  }
  return out;
}
#endif

#endif  // QMDATA_TESTS_VECTOR_SUPPORT_H_
