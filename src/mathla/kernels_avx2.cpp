// SPDX-License-Identifier: MIT
// The AVX2 level: the element loops compiled with -mavx2 where the build
// gives this unit that flag (CMakeLists.txt); elsewhere the level does not
// exist.

#include "mathla/kernels_loops.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace qmdata::detail {
namespace {

// Hand-written: the compiler's loop cannot leave on a compare mask; its
// block search measured slower on the AVX-512 level (this level is not
// reachable on the benchmark machine).
template <bool kAbs>
std::size_t Find(const int* a, std::size_t n, int value) {
  const __m256i want = _mm256_set1_epi32(value);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    if (kAbs) v = _mm256_abs_epi32(v);  // leaves -2147483648 as it is
    const unsigned mask = static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, want))));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  for (; i < n; ++i) {
    if ((kAbs ? AbsWrap(a[i]) : a[i]) == value) return i;
  }
  return n;
}

// The dot product and the sum, hand-written: the compiler's loop keeps its
// four registers of partial sums in an array on the stack, realigned,
// zeroed and stored around the loop, which cost the dot product at 1 Ki
// elements a tenth. Here they stay in registers. The sum of squares stays
// the compiler's loop, which loads each element once.
// Terms of the sums, F for one element and W for eight.
struct WideFirst : FirstTerm {
  static __m256i W(__m256i a, __m256i) { return a; }
};
struct WideProduct : ProductTerm {
  static __m256i W(__m256i a, __m256i b) { return _mm256_mullo_epi32(a, b); }
};

__m256i Load(const int* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <class Term>
int Accumulate(const int* a, const int* b, std::size_t n) {
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    s0 = _mm256_add_epi32(s0, Term::W(Load(a + i), Load(b + i)));
    s1 = _mm256_add_epi32(s1, Term::W(Load(a + i + 8), Load(b + i + 8)));
    s2 = _mm256_add_epi32(s2, Term::W(Load(a + i + 16), Load(b + i + 16)));
    s3 = _mm256_add_epi32(s3, Term::W(Load(a + i + 24), Load(b + i + 24)));
  }
  for (; i + 8 <= n; i += 8)
    s0 = _mm256_add_epi32(s0, Term::W(Load(a + i), Load(b + i)));
  const __m256i s =
      _mm256_add_epi32(_mm256_add_epi32(s0, s1), _mm256_add_epi32(s2, s3));
  __m128i h =
      _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0x4E));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0xB1));
  unsigned t = U(_mm_cvtsi128_si32(h));
  for (; i < n; ++i) t += Term::F(a[i], b[i]);
  return S(t);
}
int Dot(const int* a, const int* b, std::size_t n) {
  return Accumulate<WideProduct>(a, b, n);
}
int Sum(const int* a, std::size_t n) { return Accumulate<WideFirst>(a, a, n); }

constexpr Kernels kAvx2Table = [] {
  Kernels k = MakeKernels<8>("avx2");
  k.dot = Dot;
  k.sum = Sum;
  k.find_eq = Find<false>;
  k.find_abs = Find<true>;
  return k;
}();

}  // namespace

extern const Kernels* const kAvx2Kernels = &kAvx2Table;

}  // namespace qmdata::detail

#else

extern const qmdata::detail::Kernels* const qmdata::detail::kAvx2Kernels =
    nullptr;

#endif
