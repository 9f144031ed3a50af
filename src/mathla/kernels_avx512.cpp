// SPDX-License-Identifier: MIT
// The AVX-512 level: the element loops compiled with -mavx512f where the
// build gives this unit that flag (CMakeLists.txt); elsewhere the level does
// not exist.

#include "mathla/kernels_loops.h"

#if defined(__AVX512F__)
#include <cassert>

#include <immintrin.h>

namespace qmdata::detail {
namespace {

constexpr __mmask16 kAll = 0xFFFF;

template <bool kAbs>
unsigned long long Matches(const int* p, __mmask16 lanes, __m512i want) {
  __m512i v = _mm512_maskz_loadu_epi32(lanes, p);
  // (The zero-masked form: GCC 12 warns wherever the plain one is inlined.)
  if (kAbs) v = _mm512_maskz_abs_epi32(lanes, v);  // -2147483648 stays
  return _mm512_mask_cmpeq_epi32_mask(lanes, v, want);
}

// Hand-written: the compiler's loop cannot leave on a compare mask, and
// together with the extremes below the maximum with its first position
// measured over 2x slower with the compiler's loops.
// Four registers per step, the masks joined into one word.
template <bool kAbs>
std::size_t Find(const int* a, std::size_t n, int value) {
  const __m512i want = _mm512_set1_epi32(value);
    std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const unsigned long long m =
        Matches<kAbs>(a + i, kAll, want) |
        Matches<kAbs>(a + i + 16, kAll, want) << 16 |
        Matches<kAbs>(a + i + 32, kAll, want) << 32 |
        Matches<kAbs>(a + i + 48, kAll, want) << 48;
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  for (; i < n; i += 16) {
    const std::size_t left = n - i;
    const __mmask16 lanes =
        left >= 16 ? kAll : static_cast<__mmask16>((1u << left) - 1u);
    const unsigned long long m = Matches<kAbs>(a + i, lanes, want);
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  return n;
}

// Hand-written too: the compiler's loop keeps its partial results on the
// stack around the loop, which made the maximum with its first position
// (many short calls) over 1.7x slower. (Only zero-masked forms here: GCC 12
// warns wherever the plain ones are inlined.)
struct WideMax {
  static __m512i Map(__m512i v) { return v; }
  static __m512i Pick(__m512i a, __m512i b) {
    return _mm512_maskz_max_epi32(kAll, a, b);
  }
};
struct WideMin : WideMax {
  static __m512i Pick(__m512i a, __m512i b) {
    return _mm512_maskz_min_epi32(kAll, a, b);
  }
};
struct WideMaxAbs : WideMax {
  static __m512i Map(__m512i v) { return _mm512_maskz_abs_epi32(kAll, v); }
};

// Sel::Pick over the sixteen lanes.
template <class Sel>
int Horizontal(__m512i v) {
  v = Sel::Pick(v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0x4E));
  v = Sel::Pick(v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0xB1));
  v = Sel::Pick(v, _mm512_maskz_shuffle_epi32(kAll, v, _MM_PERM_BADC));
  v = Sel::Pick(v, _mm512_maskz_shuffle_epi32(kAll, v, _MM_PERM_CDAB));
  return _mm512_cvtsi512_si32(v);
}

// The remainder's missing lanes repeat element 0, which is part of the
// answer anyway. REQUIRES: n >= 1.
template <class Sel>
int Extreme(const int* a, std::size_t n) {
  assert(n >= 1);
  const __m512i first = _mm512_set1_epi32(a[0]);
  __m512i m0 = Sel::Map(first), m1 = m0, m2 = m0, m3 = m0;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    m0 = Sel::Pick(m0, Sel::Map(_mm512_loadu_si512(a + i)));
    m1 = Sel::Pick(m1, Sel::Map(_mm512_loadu_si512(a + i + 16)));
    m2 = Sel::Pick(m2, Sel::Map(_mm512_loadu_si512(a + i + 32)));
    m3 = Sel::Pick(m3, Sel::Map(_mm512_loadu_si512(a + i + 48)));
  }
  for (; i + 16 <= n; i += 16)
    m0 = Sel::Pick(m0, Sel::Map(_mm512_loadu_si512(a + i)));
  if (i < n) {
    const auto lanes = static_cast<__mmask16>((1u << (n - i)) - 1u);
    m1 = Sel::Pick(m1, Sel::Map(_mm512_mask_loadu_epi32(first, lanes, a + i)));
  }
  return Horizontal<Sel>(Sel::Pick(Sel::Pick(m0, m1), Sel::Pick(m2, m3)));
}

constexpr Kernels kAvx512Table = [] {
  Kernels k = MakeKernels<16>("avx512");
  k.max = Extreme<WideMax>;
  k.min = Extreme<WideMin>;
  k.maxabs = Extreme<WideMaxAbs>;
  k.find_eq = Find<false>;
  k.find_abs = Find<true>;
  return k;
}();

}  // namespace

extern const Kernels* const kAvx512Kernels = &kAvx512Table;

}  // namespace qmdata::detail

#else

extern const qmdata::detail::Kernels* const qmdata::detail::kAvx512Kernels =
    nullptr;

#endif
