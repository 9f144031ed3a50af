// SPDX-License-Identifier: MIT
// The AVX2 level: the loops with -mavx2 where the build gives this unit that
// flag (CMakeLists.txt), kernels_wide.h's over this traits struct.

#include "mathla/kernels_loops.h"

#if !defined(__AVX2__)
extern const qmdata::detail::Kernels* const qmdata::detail::kAvx2Kernels =
    nullptr;
#else
#include <immintrin.h>
namespace qmdata::detail {
namespace {
struct W {
  static constexpr const char* kName = "avx2";
  using V = __m256i;
  static constexpr std::size_t kLanes = 8;
  // With no stores to wait for, split loads of b cost less than the joins.
  static constexpr bool kJoinDot = false;
  static V Zero() { return _mm256_setzero_si256(); }
  static V Splat(int v) { return _mm256_set1_epi32(v); }
  static const V* P(const int* p) { return reinterpret_cast<const V*>(p); }
  static V Load(const int* p) { return _mm256_loadu_si256(P(p)); }
  static V LoadAligned(const int* p) { return _mm256_load_si256(P(p)); }
  static void Store(int* p, V v) {
    _mm256_store_si256(reinterpret_cast<V*>(p), v);
  }
  static V Index() { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
  static V LoadFrom(const int* p, int k) {
    return _mm256_maskload_epi32(p, _mm256_cmpgt_epi32(Index(), Splat(k - 1)));
  }
  static V LoadPart(const int* p, std::size_t n, V fill) {
    const V lanes =
        _mm256_cmpgt_epi32(Splat(n < 8 ? static_cast<int>(n) : 8), Index());
    return _mm256_blendv_epi8(fill, _mm256_maskload_epi32(p, lanes), lanes);
  }
  // One lane-crossing shuffle gives the middle 16 bytes; a byte shift
  // within each half then joins it with lo's or hi's.
  template <int k>
  static V Join(V lo, V hi) {
    const V mid = _mm256_permute2x128_si256(lo, hi, 0x21);
    if constexpr (k < 4) return _mm256_alignr_epi8(mid, lo, 4 * k);
    if constexpr (k == 4) return mid;
    if constexpr (k > 4) return _mm256_alignr_epi8(hi, mid, 4 * (k - 4));
  }
  static V Do(AddOp, V x, V y) { return _mm256_add_epi32(x, y); }
  static V Do(SubOp, V x, V y) { return _mm256_sub_epi32(x, y); }
  static V Do(MulOp, V x, V y) { return _mm256_mullo_epi32(x, y); }
  static V Max(V x, V y) { return _mm256_max_epi32(x, y); }
  static V Min(V x, V y) { return _mm256_min_epi32(x, y); }
  static V Abs(V v) { return _mm256_abs_epi32(v); }
  template <class F>
  static int Fold(V v, F f) {
    v = f(v, _mm256_permute2x128_si256(v, v, 0x01));
    v = f(v, _mm256_shuffle_epi32(v, 0x4E));
    v = f(v, _mm256_shuffle_epi32(v, 0xB1));
    return _mm_cvtsi128_si32(_mm256_castsi256_si128(v));
  }
  static unsigned long long Eq(V v, V want) {
    return static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, want))));
  }
  // Scalar: some cores run AVX2's masked stores (vpmaskmovd) as microcode.
  template <class Op>
  static void Part(int* __restrict out, const int* __restrict b,
                   std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = S(Op::F(U(out[i]), U(b[i])));
  }
};
#include "mathla/kernels_wide.h"
}  // namespace
extern const Kernels* const kAvx2Kernels = &kWideTable;
}  // namespace qmdata::detail
#endif
