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

constexpr Kernels kAvx2Table = [] {
  Kernels k = MakeKernels<8>("avx2");
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
