// SPDX-License-Identifier: MIT
// Element loops of QmMathLA::vector<int>; internal, not installed. They are
// compiled once per instruction-set level, each unit with its own flags: a
// baseline and, on x86 with GCC or clang, AVX2 and AVX-512, chosen once from
// the CPU and QMDATA_ISA. Every kernel wraps in 32-bit two's complement and
// gives the plain ascending loop's result; operands overlap only where a
// contract below allows it. The tables are immutable; Active() is safe to
// call from any thread.

#ifndef QMDATA_SRC_MATHLA_KERNELS_H_
#define QMDATA_SRC_MATHLA_KERNELS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qmdata::detail {
// 32-bit wrap-around without undefined behaviour: the arithmetic is done in
// unsigned, and C++20 defines the conversion back as two's complement.
inline unsigned ToU(int v) { return static_cast<unsigned>(v); }
inline int FromU(unsigned v) { return static_cast<int>(v); }
// True when [a, a + n) and [b, b + m) share an element. Compared as
// addresses, since the two ranges may lie in unrelated arrays.
inline bool Overlaps(const int* a, std::size_t n, const int* b, std::size_t m) {
  const std::uintptr_t pa = reinterpret_cast<std::uintptr_t>(a);
  const std::uintptr_t pb = reinterpret_cast<std::uintptr_t>(b);
  return pa < pb + m * sizeof(int) && pb < pa + n * sizeof(int);
}
// out[i] = a[i] op b[i] for i < n. REQUIRES: a, b each are out or apart.
using BinaryKernel = void (*)(int* out, const int* a, const int* b,
                              std::size_t n);
// out[i] = out[i] op b[i] for i < n. REQUIRES: b and out do not overlap.
using InPlaceKernel = void (*)(int* out, const int* b, std::size_t n);
// out[i] = a[i] * factor for i < n. REQUIRES: a == out or no overlap.
using ScaleKernel = void (*)(int* out, const int* a, int factor, std::size_t n);
// Sum over i < n of a[i] * b[i]. Any overlap allowed (read only).
using DotKernel = int (*)(const int* a, const int* b, std::size_t n);
// The sum, sum of squares or an extreme of a[0 .. n); extremes REQUIRE n >= 1.
using ReduceKernel = int (*)(const int* a, std::size_t n);
// First i < n with a[i] == value (FindEq), or whose wrapped magnitude equals
// value (FindAbs); n when there is none.
using FindKernel = std::size_t (*)(const int* a, std::size_t n, int value);
// For j < n: out[j] = sum over i < k of v[i] * a[i * cols + j] (VecMat) or
// of v[i] * a[j * cols + i] (VecMatT). REQUIRES: out apart from v and a.
using MatKernel = void (*)(int* out, const int* v, const int* a,
                           std::ptrdiff_t cols, std::size_t k, std::size_t n);
struct Kernels {
  const char* name;
  BinaryKernel add, sub, mul;
  ScaleKernel scale;
  DotKernel dot;
  ReduceKernel sum, sumsq, max, min;
  ReduceKernel maxabs;  // greatest wrapped magnitude, signed comparison
  FindKernel find_eq, find_abs;
  MatKernel vecmat, vecmat_t;
  InPlaceKernel add_to, sub_from, mul_by;  // the compound operators
};
// Each level's table; a wide one is null where its unit lacks the flags.
extern const Kernels kBaselineKernels;
extern const Kernels* const kAvx2Kernels;
extern const Kernels* const kAvx512Kernels;
enum class Isa { kBaseline = 0, kAvx2 = 1, kAvx512 = 2 };
// One level's kernels, null where this build or CPU lacks it (never baseline).
const Kernels* KernelsFor(Isa isa);
// The best level this CPU supports that is not above cap ("baseline",
// "avx2"; null or any other value sets no limit).
const Kernels* ChooseUpTo(const char* cap);
// ChooseUpTo QMDATA_ISA, read once, on the first call: a machine with a wide
// level can check and measure a narrower one in the whole library.
const Kernels& ChooseActive();
// ChooseActive's choice, null before: the one mutable global here.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
extern std::atomic<const Kernels*> g_active_kernels;
// The level in use: once chosen, one load rather than a call and a guard.
inline const Kernels& Active() {
  const Kernels* k = g_active_kernels.load(std::memory_order_acquire);
  return k != nullptr ? *k : ChooseActive();
}
}  // namespace qmdata::detail

#endif  // QMDATA_SRC_MATHLA_KERNELS_H_
