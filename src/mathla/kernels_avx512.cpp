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

// The element-wise operations in place, hand-written too: four registers
// per step, the head up to the 64-byte boundary of out and the remainder one
// masked step each, where the compiler's loop takes one register per step
// and up to 15 scalar steps at either end. Short calls measured faster; with
// b off a 64-byte boundary the loop runs at the rate at which the core
// splits b's loads across cache lines.
struct WideAdd {
  static __m512i F(__m512i a, __m512i b) { return _mm512_add_epi32(a, b); }
};
struct WideSub {
  static __m512i F(__m512i a, __m512i b) { return _mm512_sub_epi32(a, b); }
};
struct WideMul {
  static __m512i F(__m512i a, __m512i b) { return _mm512_mullo_epi32(a, b); }
};

__mmask16 Lanes(std::size_t n) {
  return n >= 16 ? kAll : static_cast<__mmask16>((1u << n) - 1u);
}

// out[i] = out[i] op b[i] for the lanes given.
template <class Op>
void MaskedStep(int* out, const int* b, __mmask16 lanes) {
  const __m512i x = _mm512_maskz_loadu_epi32(lanes, out);
  const __m512i y = _mm512_maskz_loadu_epi32(lanes, b);
  _mm512_mask_storeu_epi32(out, lanes, Op::F(x, y));
}

// out op= b, b apart from out. The first step reaches the 64-byte boundary
// of out, so that no store after it splits a cache line.
template <class Op>
[[gnu::noinline]] void InPlace(int* out, const int* b, std::size_t n) {
  std::size_t i = (0u - reinterpret_cast<std::uintptr_t>(out)) % 64 / 4;
  if (i > n) i = n;
  if (i != 0) MaskedStep<Op>(out, b, Lanes(i));
  for (; i + 64 <= n; i += 64) {
    __m512i x0 = _mm512_load_si512(out + i);
    __m512i x1 = _mm512_load_si512(out + i + 16);
    __m512i x2 = _mm512_load_si512(out + i + 32);
    __m512i x3 = _mm512_load_si512(out + i + 48);
    x0 = Op::F(x0, _mm512_loadu_si512(b + i));
    x1 = Op::F(x1, _mm512_loadu_si512(b + i + 16));
    x2 = Op::F(x2, _mm512_loadu_si512(b + i + 32));
    x3 = Op::F(x3, _mm512_loadu_si512(b + i + 48));
    _mm512_store_si512(out + i, x0);
    _mm512_store_si512(out + i + 16, x1);
    _mm512_store_si512(out + i + 32, x2);
    _mm512_store_si512(out + i + 48, x3);
  }
  for (; i < n; i += 16) MaskedStep<Op>(out + i, b + i, Lanes(n - i));
}

// Neither path inlined: the short in-place calls then pay for two
// comparisons here, not for the registers the other path saves.
template <class Op>
[[gnu::noinline]] void Apart(int* out, const int* a, const int* b,
                             std::size_t n) {
  Loops<16>::Binary<Op>(out, a, b, n);
}
template <class Op, class Wide>
void Binary(int* out, const int* a, const int* b, std::size_t n) {
  if (out == a && out != b) return InPlace<Wide>(out, b, n);
  Apart<Op>(out, a, b, n);
}

constexpr Kernels kAvx512Table = [] {
  Kernels k = MakeKernels<16>("avx512");
  k.add = Binary<AddOp, WideAdd>;
  k.sub = Binary<SubOp, WideSub>;
  k.mul = Binary<MulOp, WideMul>;
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
