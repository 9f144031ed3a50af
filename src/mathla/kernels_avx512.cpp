// SPDX-License-Identifier: MIT
// The AVX-512 level, as kernels_avx2.cpp with -mavx512f. The extremes and
// shuffles are zero-masked: GCC 12 warns wherever the plain ones are inlined.

#include "mathla/kernels_loops.h"

#if !defined(__AVX512F__)
extern const qmdata::detail::Kernels* const qmdata::detail::kAvx512Kernels =
    nullptr;
#else
#include <immintrin.h>
namespace qmdata::detail {
namespace {
constexpr __mmask16 kAll = 0xFFFF;
struct W {
  static constexpr const char* kName = "avx512";
  using V = __m512i;
  static constexpr std::size_t kLanes = 16;
  static constexpr bool kJoinDot = true;
  static __mmask16 Lanes(std::size_t n) {
    return n >= 16 ? kAll : static_cast<__mmask16>((1u << n) - 1u);
  }
  static V Zero() { return _mm512_setzero_si512(); }
  static V Splat(int v) { return _mm512_set1_epi32(v); }
  static V Load(const int* p) { return _mm512_loadu_si512(p); }
  static V LoadAligned(const int* p) { return _mm512_load_si512(p); }
  static void Store(int* p, V v) { _mm512_store_si512(p, v); }
  static V LoadFrom(const int* p, int k) {
    return _mm512_maskz_load_epi32(static_cast<__mmask16>(kAll << k), p);
  }
  static V LoadPart(const int* p, std::size_t n, V fill) {
    return _mm512_mask_loadu_epi32(fill, Lanes(n), p);
  }
  template <int k>
  static V Join(V lo, V hi) {
    return _mm512_maskz_alignr_epi32(kAll, hi, lo, k);
  }
  static V Do(AddOp, V x, V y) { return _mm512_add_epi32(x, y); }
  static V Do(SubOp, V x, V y) { return _mm512_sub_epi32(x, y); }
  static V Do(MulOp, V x, V y) { return _mm512_mullo_epi32(x, y); }
  static V Max(V x, V y) { return _mm512_maskz_max_epi32(kAll, x, y); }
  static V Min(V x, V y) { return _mm512_maskz_min_epi32(kAll, x, y); }
  static V Abs(V v) { return _mm512_maskz_abs_epi32(kAll, v); }
  template <class F>
  static int Fold(V v, F f) {
    v = f(v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0x4E));
    v = f(v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, 0xB1));
    v = f(v, _mm512_maskz_shuffle_epi32(kAll, v, _MM_PERM_BADC));
    v = f(v, _mm512_maskz_shuffle_epi32(kAll, v, _MM_PERM_CDAB));
    return _mm512_cvtsi512_si32(v);
  }
  static unsigned long long Eq(V v, V want) {
    return _mm512_mask_cmpeq_epi32_mask(kAll, v, want);
  }
  template <class Op>
  static void Part(int* out, const int* b, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 16) {
      const __mmask16 m = Lanes(n - i);
      const V x = _mm512_maskz_loadu_epi32(m, out + i);
      const V y = _mm512_maskz_loadu_epi32(m, b + i);
      _mm512_mask_storeu_epi32(out + i, m, Do(Op{}, x, y));
    }
  }
};
#include "mathla/kernels_wide.h"
}  // namespace
extern const Kernels* const kAvx512Kernels = &kWideTable;
}  // namespace qmdata::detail
#endif
