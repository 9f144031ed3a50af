// SPDX-License-Identifier: MIT
// The element loops as plain C++ for the compiler to vectorise with each
// unit's flags. All has internal linkage and calls nothing inline from other
// headers, so the linker cannot let one unit's code stand in for another's.
// kLanes ints fill a register; the reductions keep kBlock (four registers of)
// partial results, so that steps need not wait, and the searches test kBlock.

#ifndef QMDATA_SRC_MATHLA_KERNELS_LOOPS_H_
#define QMDATA_SRC_MATHLA_KERNELS_LOOPS_H_

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "mathla/kernels.h"

namespace qmdata::detail {
namespace {  // NOLINT(cert-dcl59-cpp): internal linkage on purpose, above
inline unsigned U(int v) { return static_cast<unsigned>(v); }
inline int S(unsigned v) { return static_cast<int>(v); }
// The wrapped magnitude: -2147483648 stays as it is.
inline int AbsWrap(int v) { return v < 0 ? S(0u - U(v)) : v; }
// For the debug checks: [a, a + n) and [b, b + m) are one range or apart.
inline bool SameOrApart(const int* a, std::size_t n, const int* b,
                        std::size_t m) {
  const std::uintptr_t pa = reinterpret_cast<std::uintptr_t>(a);
  const std::uintptr_t pb = reinterpret_cast<std::uintptr_t>(b);
  return pa == pb || pa + n * sizeof(int) <= pb || pb + m * sizeof(int) <= pa;
}
// Four registers per step: a loop of one is so short that instruction fetch
// limits it wherever it straddles a cache line.
#if defined(__GNUC__)
#define QMDATA_UNROLL_4 _Pragma("GCC unroll 4")
#else
#define QMDATA_UNROLL_4
#endif
struct AddOp {
  static unsigned F(unsigned a, unsigned b) { return a + b; }
};
struct SubOp {
  static unsigned F(unsigned a, unsigned b) { return a - b; }
};
struct MulOp {
  static unsigned F(unsigned a, unsigned b) { return a * b; }
};
// The sums of a[i] * b[i] (kDot) or a[i].
template <bool kDot>
struct Sums {
  using T = unsigned;
  static T Init(const int*) { return 0; }
  static T Of(int x, int y) { return kDot ? U(x) * U(y) : U(x); }
  static T With(T s, T t) { return s + t; }
};
// The extremes of each element or its magnitude (kAbs), from element 0.
template <bool kMin, bool kAbs>
struct Extremes {
  using T = int;
  static T Init(const int* a) { return Of(a[0], 0); }
  static T Of(int x, int) { return kAbs ? AbsWrap(x) : x; }
  static T With(T s, T t) { return (kMin ? t < s : t > s) ? t : s; }
};
template <std::size_t kLanes>
struct Loops {
  static constexpr std::size_t kBlock = 4 * kLanes;
  // Elements before the first register-aligned address at or after p, at
  // most n, done first so that no vector store after them splits a line.
  static std::size_t Head(const int* p, std::size_t n) {
    const std::size_t bytes = kLanes * sizeof(int);
    const std::size_t off = reinterpret_cast<std::uintptr_t>(p) % bytes;
    const std::size_t head = off == 0 ? 0 : (bytes - off) / sizeof(int);
    return head < n ? head : n;
  }
  // Lanes p lies past a register boundary, 0 to kLanes - 1; kLanes where p
  // is not even 4-byte aligned. The wide levels pick a loop by it.
  static unsigned Shift(const int* p) {
    const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(p);
    const std::size_t bytes = kLanes * sizeof(int);
    return addr % sizeof(int) != 0
               ? kLanes
               : static_cast<unsigned>(addr % bytes / sizeof(int));
  }
  template <class Op>
  static void Binary(int* out, const int* a, const int* b, std::size_t n) {
    assert(SameOrApart(out, n, a, n) && SameOrApart(out, n, b, n));
    if (out == a && out != b) return InPlace<Op>(out, b, n);
    const std::size_t head = Head(out, n);
    for (std::size_t i = 0; i < head; ++i) out[i] = S(Op::F(U(a[i]), U(b[i])));
    QMDATA_UNROLL_4
    for (std::size_t i = head; i < n; ++i) out[i] = S(Op::F(U(a[i]), U(b[i])));
  }
  // b apart from out: the compiler needs no overlap test at run time.
  template <class Op>
  static void InPlace(int* __restrict out, const int* __restrict b,
                      std::size_t n) {
    assert(SameOrApart(out, n, b, n) && out != b);
    const std::size_t head = Head(out, n);
    for (std::size_t i = 0; i < head; ++i)
      out[i] = S(Op::F(U(out[i]), U(b[i])));
    QMDATA_UNROLL_4
    for (std::size_t i = head; i < n; ++i)
      out[i] = S(Op::F(U(out[i]), U(b[i])));
  }
  static void Scale(int* out, const int* a, int factor, std::size_t n) {
    assert(SameOrApart(out, n, a, n));
    const unsigned f = U(factor);
    const std::size_t head = Head(out, n);
    for (std::size_t i = 0; i < head; ++i) out[i] = S(U(a[i]) * f);
    QMDATA_UNROLL_4
    for (std::size_t i = head; i < n; ++i) out[i] = S(U(a[i]) * f);
  }
  // kBlock partial results from R::Init(a), R::With each R::Of(a[i], b[i]).
  template <class R>
  static int Reduce(const int* a, const int* b, std::size_t n) {
    typename R::T part[kBlock] = {};
    if (R::Init(a) != 0) std::fill_n(part, kBlock, R::Init(a));
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
      for (std::size_t j = 0; j < kBlock; ++j)
        part[j] = R::With(part[j], R::Of(a[i + j], b[i + j]));
    }
    typename R::T s = R::Init(a);
    for (; i < n; ++i) s = R::With(s, R::Of(a[i], b[i]));
    for (std::size_t j = 0; j < kBlock; ++j) s = R::With(s, part[j]);
    return static_cast<int>(s);
  }
  template <class R>
  static int Reduce1(const int* a, std::size_t n) {
    return Reduce<R>(a, a, n);
  }
  template <bool kAbs>
  static std::size_t Find(const int* a, std::size_t n, int value) {
    const auto same = [=](int v) { return (kAbs ? AbsWrap(v) : v) == value; };
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
      unsigned hit = 0;
      for (std::size_t j = 0; j < kBlock; ++j) hit |= same(a[i + j]) ? 1 : 0;
      if (hit != 0) break;
    }
    while (i < n && !same(a[i])) ++i;
    return i;
  }
  // Four rows per pass, so the output is read and written once for four.
  static void VecMat(int* out, const int* v, const int* a, std::ptrdiff_t cols,
                     std::size_t k, std::size_t n) {
    assert(out != v && SameOrApart(out, n, v, k) && out != a);
    std::memset(out, 0, n * sizeof(int));
    std::size_t i = 0;
    for (; i + 4 <= k; i += 4) {
      const int* r0 = a + static_cast<std::ptrdiff_t>(i) * cols;
      const int *r1 = r0 + cols, *r2 = r1 + cols, *r3 = r2 + cols;
      const unsigned f0 = U(v[i]), f1 = U(v[i + 1]), f2 = U(v[i + 2]),
                     f3 = U(v[i + 3]);
      for (std::size_t j = 0; j < n; ++j) {
        out[j] = S(U(out[j]) + f0 * U(r0[j]) + f1 * U(r1[j]) + f2 * U(r2[j]) +
                   f3 * U(r3[j]));
      }
    }
    for (; i < k; ++i) {
      const int* r = a + static_cast<std::ptrdiff_t>(i) * cols;
      const unsigned f = U(v[i]);
      for (std::size_t j = 0; j < n; ++j) out[j] = S(U(out[j]) + f * U(r[j]));
    }
  }
  // Four rows at a time, sharing the reads of v.
  static void VecMatT(int* out, const int* v, const int* a, std::ptrdiff_t cols,
                      std::size_t k, std::size_t n) {
    assert(out != v && SameOrApart(out, n, v, k) && out != a);
    std::size_t j = 0;
    for (; j + 4 <= n; j += 4) {
      const int* r0 = a + static_cast<std::ptrdiff_t>(j) * cols;
      const int *r1 = r0 + cols, *r2 = r1 + cols, *r3 = r2 + cols;
      unsigned t0 = 0, t1 = 0, t2 = 0, t3 = 0;
      for (std::size_t i = 0; i < k; ++i) {
        const unsigned x = U(v[i]);
        t0 += x * U(r0[i]);
        t1 += x * U(r1[i]);
        t2 += x * U(r2[i]);
        t3 += x * U(r3[i]);
      }
      out[j] = S(t0);
      out[j + 1] = S(t1);
      out[j + 2] = S(t2);
      out[j + 3] = S(t3);
    }
    for (; j < n; ++j)
      out[j] =
          Reduce<Sums<true>>(v, a + static_cast<std::ptrdiff_t>(j) * cols, k);
  }
};
template <std::size_t kLanes>
constexpr Kernels MakeKernels(const char* name) {
  using L = Loops<kLanes>;
  return {name,
          L::template Binary<AddOp>,
          L::template Binary<SubOp>,
          L::template Binary<MulOp>,
          L::Scale,
          L::template Reduce<Sums<true>>,
          L::template Reduce1<Sums<false>>,
          L::template Reduce1<Sums<true>>,
          L::template Reduce1<Extremes<false, false>>,
          L::template Reduce1<Extremes<true, false>>,
          L::template Reduce1<Extremes<false, true>>,
          L::template Find<false>,
          L::template Find<true>,
          L::VecMat,
          L::VecMatT,
          L::template InPlace<AddOp>,
          L::template InPlace<SubOp>,
          L::template InPlace<MulOp>};
}
}  // namespace
}  // namespace qmdata::detail

#endif  // QMDATA_SRC_MATHLA_KERNELS_LOOPS_H_
