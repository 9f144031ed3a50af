// Element loops of QmMathLA::vector<int>: the portable baseline, the AVX2 and
// AVX-512 versions, and the choice among them.

#include "mathla/kernels.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The wide levels need GCC or clang on x86. MinGW's GCC is left out: it
// does not realign the stack for 32- and 64-byte registers that it spills
// (GCC bug 54412), so Windows builds with it run the baseline.
#if (defined(__GNUC__) || defined(__clang__)) &&  \
    (defined(__x86_64__) || defined(__i386__)) && \
    !(defined(_WIN32) && !defined(__clang__))
#define QMDATA_KERNELS_X86 1
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's AVX-512 headers build some intrinsics from a deliberately
// undefined register and warn about it wherever they are inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#else
#define QMDATA_KERNELS_X86 0
#endif

namespace qmdata::detail {

namespace {

// --- baseline ------------------------------------------------------------
// Plain loops. Wrapping arithmetic is done in unsigned and converted back,
// which C++20 defines as the two's-complement value.

inline int Wrap(unsigned v) { return static_cast<int>(v); }
inline unsigned U(int v) { return static_cast<unsigned>(v); }
inline int AbsWrap(int v) { return v < 0 ? Wrap(0u - U(v)) : v; }

struct AddOp {
  static int Scalar(int a, int b) { return Wrap(U(a) + U(b)); }
};
struct SubOp {
  static int Scalar(int a, int b) { return Wrap(U(a) - U(b)); }
};
struct MulOp {
  static int Scalar(int a, int b) { return Wrap(U(a) * U(b)); }
};

template <class Op>
void BinaryBase(int* out, const int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = Op::Scalar(a[i], b[i]);
}

void ScaleBase(int* out, const int* a, int factor, std::size_t n) {
  const unsigned f = U(factor);
  for (std::size_t i = 0; i < n; ++i) out[i] = Wrap(U(a[i]) * f);
}

int DotBase(const int* a, const int* b, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]) * U(b[i]);
  return Wrap(s);
}

int SumBase(const int* a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]);
  return Wrap(s);
}

int SumSqBase(const int* a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]) * U(a[i]);
  return Wrap(s);
}

int MaxBase(const int* a, std::size_t n) {
  int best = a[0];
  for (std::size_t i = 1; i < n; ++i) best = a[i] > best ? a[i] : best;
  return best;
}

int MinBase(const int* a, std::size_t n) {
  int best = a[0];
  for (std::size_t i = 1; i < n; ++i) best = a[i] < best ? a[i] : best;
  return best;
}

int MaxAbsBase(const int* a, std::size_t n) {
  int best = AbsWrap(a[0]);
  for (std::size_t i = 1; i < n; ++i) {
    const int m = AbsWrap(a[i]);
    best = m > best ? m : best;
  }
  return best;
}

std::size_t FindEqBase(const int* a, std::size_t n, int value) {
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == value) return i;
  }
  return n;
}

std::size_t FindAbsBase(const int* a, std::size_t n, int value) {
  for (std::size_t i = 0; i < n; ++i) {
    if (AbsWrap(a[i]) == value) return i;
  }
  return n;
}

void VecMatBase(int* out, const int* v, const int* a, std::ptrdiff_t cols,
                std::size_t k, std::size_t n) {
  std::memset(out, 0, n * sizeof(int));
  for (std::size_t i = 0; i < k; ++i) {
    const unsigned f = U(v[i]);
    const int* row = a + static_cast<std::ptrdiff_t>(i) * cols;
    for (std::size_t j = 0; j < n; ++j)
      out[j] = Wrap(U(out[j]) + f * U(row[j]));
  }
}

void VecMatTBase(int* out, const int* v, const int* a, std::ptrdiff_t cols,
                 std::size_t k, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    out[j] = DotBase(v, a + static_cast<std::ptrdiff_t>(j) * cols, k);
  }
}

constexpr Kernels kBaseline = {
    "baseline",  BinaryBase<AddOp>, BinaryBase<SubOp>, BinaryBase<MulOp>,
    ScaleBase,   DotBase,           SumBase,           SumSqBase,
    MaxBase,     MinBase,           MaxAbsBase,        FindEqBase,
    FindAbsBase, VecMatBase,        VecMatTBase};

#if QMDATA_KERNELS_X86

// --- AVX2 ----------------------------------------------------------------
// Four registers (32 ints) per step, then one register, then single
// elements.

#define QMDATA_AVX2 __attribute__((target("avx2")))

namespace avx2 {

QMDATA_AVX2 inline __m256i Load(const int* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
QMDATA_AVX2 inline void Store(int* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
QMDATA_AVX2 inline int HSum(__m256i v) {
  __m128i s =
      _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return _mm_cvtsi128_si32(s);
}
QMDATA_AVX2 inline int HMax(__m256i v) {
  __m128i s =
      _mm_max_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_max_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_max_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return _mm_cvtsi128_si32(s);
}
QMDATA_AVX2 inline int HMin(__m256i v) {
  __m128i s =
      _mm_min_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_min_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_min_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return _mm_cvtsi128_si32(s);
}

struct Add {
  QMDATA_AVX2 static __m256i Vec(__m256i a, __m256i b) {
    return _mm256_add_epi32(a, b);
  }
  static int Scalar(int a, int b) { return AddOp::Scalar(a, b); }
};
struct Sub {
  QMDATA_AVX2 static __m256i Vec(__m256i a, __m256i b) {
    return _mm256_sub_epi32(a, b);
  }
  static int Scalar(int a, int b) { return SubOp::Scalar(a, b); }
};
struct Mul {
  QMDATA_AVX2 static __m256i Vec(__m256i a, __m256i b) {
    return _mm256_mullo_epi32(a, b);
  }
  static int Scalar(int a, int b) { return MulOp::Scalar(a, b); }
};

template <class Op>
QMDATA_AVX2 void Binary(int* out, const int* a, const int* b, std::size_t n) {
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i r0 = Op::Vec(Load(a + i), Load(b + i));
    const __m256i r1 = Op::Vec(Load(a + i + 8), Load(b + i + 8));
    const __m256i r2 = Op::Vec(Load(a + i + 16), Load(b + i + 16));
    const __m256i r3 = Op::Vec(Load(a + i + 24), Load(b + i + 24));
    Store(out + i, r0);
    Store(out + i + 8, r1);
    Store(out + i + 16, r2);
    Store(out + i + 24, r3);
  }
  for (; i + 8 <= n; i += 8) Store(out + i, Op::Vec(Load(a + i), Load(b + i)));
  for (; i < n; ++i) out[i] = Op::Scalar(a[i], b[i]);
}

QMDATA_AVX2 void Scale(int* out, const int* a, int factor, std::size_t n) {
  const __m256i f = _mm256_set1_epi32(factor);
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i r0 = _mm256_mullo_epi32(Load(a + i), f);
    const __m256i r1 = _mm256_mullo_epi32(Load(a + i + 8), f);
    const __m256i r2 = _mm256_mullo_epi32(Load(a + i + 16), f);
    const __m256i r3 = _mm256_mullo_epi32(Load(a + i + 24), f);
    Store(out + i, r0);
    Store(out + i + 8, r1);
    Store(out + i + 16, r2);
    Store(out + i + 24, r3);
  }
  for (; i + 8 <= n; i += 8) Store(out + i, _mm256_mullo_epi32(Load(a + i), f));
  for (; i < n; ++i) out[i] = MulOp::Scalar(a[i], factor);
}

QMDATA_AVX2 int Dot(const int* a, const int* b, std::size_t n) {
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    s0 = _mm256_add_epi32(s0, _mm256_mullo_epi32(Load(a + i), Load(b + i)));
    s1 = _mm256_add_epi32(s1,
                          _mm256_mullo_epi32(Load(a + i + 8), Load(b + i + 8)));
    s2 = _mm256_add_epi32(
        s2, _mm256_mullo_epi32(Load(a + i + 16), Load(b + i + 16)));
    s3 = _mm256_add_epi32(
        s3, _mm256_mullo_epi32(Load(a + i + 24), Load(b + i + 24)));
  }
  for (; i + 8 <= n; i += 8) {
    s0 = _mm256_add_epi32(s0, _mm256_mullo_epi32(Load(a + i), Load(b + i)));
  }
  s0 = _mm256_add_epi32(_mm256_add_epi32(s0, s1), _mm256_add_epi32(s2, s3));
  unsigned s = U(HSum(s0));
  for (; i < n; ++i) s += U(a[i]) * U(b[i]);
  return Wrap(s);
}

QMDATA_AVX2 int Sum(const int* a, std::size_t n) {
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    s0 = _mm256_add_epi32(s0, Load(a + i));
    s1 = _mm256_add_epi32(s1, Load(a + i + 8));
    s2 = _mm256_add_epi32(s2, Load(a + i + 16));
    s3 = _mm256_add_epi32(s3, Load(a + i + 24));
  }
  for (; i + 8 <= n; i += 8) s0 = _mm256_add_epi32(s0, Load(a + i));
  s0 = _mm256_add_epi32(_mm256_add_epi32(s0, s1), _mm256_add_epi32(s2, s3));
  unsigned s = U(HSum(s0));
  for (; i < n; ++i) s += U(a[i]);
  return Wrap(s);
}

QMDATA_AVX2 int SumSq(const int* a, std::size_t n) { return Dot(a, a, n); }

// Greatest (Max), least (Min) or greatest magnitude (MaxAbs) over a[0 .. n).
struct MaxSel {
  QMDATA_AVX2 static __m256i Map(__m256i v) { return v; }
  QMDATA_AVX2 static __m256i Pick(__m256i a, __m256i b) {
    return _mm256_max_epi32(a, b);
  }
  QMDATA_AVX2 static int Horizontal(__m256i v) { return HMax(v); }
  static int MapScalar(int v) { return v; }
  static int PickScalar(int a, int b) { return a > b ? a : b; }
};
struct MinSel {
  QMDATA_AVX2 static __m256i Map(__m256i v) { return v; }
  QMDATA_AVX2 static __m256i Pick(__m256i a, __m256i b) {
    return _mm256_min_epi32(a, b);
  }
  QMDATA_AVX2 static int Horizontal(__m256i v) { return HMin(v); }
  static int MapScalar(int v) { return v; }
  static int PickScalar(int a, int b) { return a < b ? a : b; }
};
struct MaxAbsSel {
  // _mm256_abs_epi32 leaves -2147483648 as it is: the wrapped magnitude.
  QMDATA_AVX2 static __m256i Map(__m256i v) { return _mm256_abs_epi32(v); }
  QMDATA_AVX2 static __m256i Pick(__m256i a, __m256i b) {
    return _mm256_max_epi32(a, b);
  }
  QMDATA_AVX2 static int Horizontal(__m256i v) { return HMax(v); }
  static int MapScalar(int v) { return AbsWrap(v); }
  static int PickScalar(int a, int b) { return a > b ? a : b; }
};

template <class Sel>
QMDATA_AVX2 int Extreme(const int* a, std::size_t n) {
  int best = Sel::MapScalar(a[0]);
  std::size_t i = 0;
  if (n >= 8) {
    __m256i m0 = Sel::Map(Load(a)), m1 = m0, m2 = m0, m3 = m0;
    i = 8;
    for (; i + 32 <= n; i += 32) {
      m0 = Sel::Pick(m0, Sel::Map(Load(a + i)));
      m1 = Sel::Pick(m1, Sel::Map(Load(a + i + 8)));
      m2 = Sel::Pick(m2, Sel::Map(Load(a + i + 16)));
      m3 = Sel::Pick(m3, Sel::Map(Load(a + i + 24)));
    }
    for (; i + 8 <= n; i += 8) m0 = Sel::Pick(m0, Sel::Map(Load(a + i)));
    best = Sel::Horizontal(Sel::Pick(Sel::Pick(m0, m1), Sel::Pick(m2, m3)));
  }
  for (; i < n; ++i) best = Sel::PickScalar(best, Sel::MapScalar(a[i]));
  return best;
}

QMDATA_AVX2 int Max(const int* a, std::size_t n) {
  return Extreme<MaxSel>(a, n);
}
QMDATA_AVX2 int Min(const int* a, std::size_t n) {
  return Extreme<MinSel>(a, n);
}
QMDATA_AVX2 int MaxAbs(const int* a, std::size_t n) {
  return Extreme<MaxAbsSel>(a, n);
}

template <bool kAbs>
QMDATA_AVX2 std::size_t Find(const int* a, std::size_t n, int value) {
  const __m256i want = _mm256_set1_epi32(value);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i v = Load(a + i);
    if (kAbs) v = _mm256_abs_epi32(v);
    const unsigned mask = static_cast<unsigned>(
        _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(v, want))));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  for (; i < n; ++i) {
    if ((kAbs ? AbsWrap(a[i]) : a[i]) == value) return i;
  }
  return n;
}

QMDATA_AVX2 std::size_t FindEq(const int* a, std::size_t n, int value) {
  return Find<false>(a, n, value);
}
QMDATA_AVX2 std::size_t FindAbs(const int* a, std::size_t n, int value) {
  return Find<true>(a, n, value);
}

// out[j] for j < n, four rows of the matrix at a time: each step reads the
// output once for four rows.
QMDATA_AVX2 void VecMat(int* out, const int* v, const int* a,
                        std::ptrdiff_t cols, std::size_t k, std::size_t n) {
  std::memset(out, 0, n * sizeof(int));
  std::size_t i = 0;
  for (; i + 4 <= k; i += 4) {
    const int* r0 = a + static_cast<std::ptrdiff_t>(i) * cols;
    const int* r1 = r0 + cols;
    const int* r2 = r1 + cols;
    const int* r3 = r2 + cols;
    const __m256i f0 = _mm256_set1_epi32(v[i]);
    const __m256i f1 = _mm256_set1_epi32(v[i + 1]);
    const __m256i f2 = _mm256_set1_epi32(v[i + 2]);
    const __m256i f3 = _mm256_set1_epi32(v[i + 3]);
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8) {
      __m256i acc = _mm256_add_epi32(_mm256_mullo_epi32(f0, Load(r0 + j)),
                                     _mm256_mullo_epi32(f1, Load(r1 + j)));
      acc = _mm256_add_epi32(acc, _mm256_mullo_epi32(f2, Load(r2 + j)));
      acc = _mm256_add_epi32(acc, _mm256_mullo_epi32(f3, Load(r3 + j)));
      Store(out + j, _mm256_add_epi32(Load(out + j), acc));
    }
    for (; j < n; ++j) {
      out[j] = Wrap(U(out[j]) + U(v[i]) * U(r0[j]) + U(v[i + 1]) * U(r1[j]) +
                    U(v[i + 2]) * U(r2[j]) + U(v[i + 3]) * U(r3[j]));
    }
  }
  for (; i < k; ++i) {
    const int* r0 = a + static_cast<std::ptrdiff_t>(i) * cols;
    const __m256i f0 = _mm256_set1_epi32(v[i]);
    std::size_t j = 0;
    for (; j + 8 <= n; j += 8) {
      Store(out + j, _mm256_add_epi32(Load(out + j),
                                      _mm256_mullo_epi32(f0, Load(r0 + j))));
    }
    for (; j < n; ++j) out[j] = Wrap(U(out[j]) + U(v[i]) * U(r0[j]));
  }
}

// out[j] = v . row j, four rows at a time sharing the loads of v.
QMDATA_AVX2 void VecMatT(int* out, const int* v, const int* a,
                         std::ptrdiff_t cols, std::size_t k, std::size_t n) {
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const int* r0 = a + static_cast<std::ptrdiff_t>(j) * cols;
    const int* r1 = r0 + cols;
    const int* r2 = r1 + cols;
    const int* r3 = r2 + cols;
    __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
    std::size_t i = 0;
    for (; i + 8 <= k; i += 8) {
      const __m256i x = Load(v + i);
      s0 = _mm256_add_epi32(s0, _mm256_mullo_epi32(x, Load(r0 + i)));
      s1 = _mm256_add_epi32(s1, _mm256_mullo_epi32(x, Load(r1 + i)));
      s2 = _mm256_add_epi32(s2, _mm256_mullo_epi32(x, Load(r2 + i)));
      s3 = _mm256_add_epi32(s3, _mm256_mullo_epi32(x, Load(r3 + i)));
    }
    unsigned t0 = U(HSum(s0)), t1 = U(HSum(s1)), t2 = U(HSum(s2)),
             t3 = U(HSum(s3));
    for (; i < k; ++i) {
      const unsigned x = U(v[i]);
      t0 += x * U(r0[i]);
      t1 += x * U(r1[i]);
      t2 += x * U(r2[i]);
      t3 += x * U(r3[i]);
    }
    out[j] = Wrap(t0);
    out[j + 1] = Wrap(t1);
    out[j + 2] = Wrap(t2);
    out[j + 3] = Wrap(t3);
  }
  for (; j < n; ++j)
    out[j] = Dot(v, a + static_cast<std::ptrdiff_t>(j) * cols, k);
}

}  // namespace avx2

constexpr Kernels kAvx2 = {"avx2",
                           avx2::Binary<avx2::Add>,
                           avx2::Binary<avx2::Sub>,
                           avx2::Binary<avx2::Mul>,
                           avx2::Scale,
                           avx2::Dot,
                           avx2::Sum,
                           avx2::SumSq,
                           avx2::Max,
                           avx2::Min,
                           avx2::MaxAbs,
                           avx2::FindEq,
                           avx2::FindAbs,
                           avx2::VecMat,
                           avx2::VecMatT};

// --- AVX-512 -------------------------------------------------------------
// Four registers (64 ints) per step, then one register, then the remainder
// with a masked load and store, so no single-element loop is needed.

#define QMDATA_AVX512 __attribute__((target("avx512f,avx2")))

namespace avx512 {

QMDATA_AVX512 inline __m512i Load(const int* p) {
  return _mm512_loadu_si512(p);
}
QMDATA_AVX512 inline void Store(int* p, __m512i v) {
  _mm512_storeu_si512(p, v);
}
// Lanes 0 .. r - 1. REQUIRES: r < 16.
inline __mmask16 Lanes(std::size_t r) {
  return static_cast<__mmask16>((1u << r) - 1u);
}
// The wrapped sum of the sixteen lanes. (GCC 12's _mm512_reduce_add_epi32
// finishes in signed scalar adds, which may overflow.)
QMDATA_AVX512 inline int HSum(__m512i v) {
  const __m256i h = _mm256_add_epi32(_mm512_castsi512_si256(v),
                                     _mm512_extracti64x4_epi64(v, 1));
  __m128i s =
      _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return _mm_cvtsi128_si32(s);
}
QMDATA_AVX512 inline __m512i LoadPart(const int* p, __mmask16 m) {
  return _mm512_maskz_loadu_epi32(m, p);
}

struct Add {
  QMDATA_AVX512 static __m512i Vec(__m512i a, __m512i b) {
    return _mm512_add_epi32(a, b);
  }
};
struct Sub {
  QMDATA_AVX512 static __m512i Vec(__m512i a, __m512i b) {
    return _mm512_sub_epi32(a, b);
  }
};
struct Mul {
  QMDATA_AVX512 static __m512i Vec(__m512i a, __m512i b) {
    return _mm512_mullo_epi32(a, b);
  }
};

// Elements before the first 64-byte boundary at or after p, at most n.
inline std::size_t Head(const int* p, std::size_t n) {
  const std::size_t bytes =
      (64 - (reinterpret_cast<std::uintptr_t>(p) & 63)) & 63;
  const std::size_t head = bytes / sizeof(int);
  return head < n ? head : n;
}

// One register per step, with the stores aligned: a masked step first
// brings the output to a 64-byte boundary, so no store splits a cache line.
// These loops are bound by loads and stores; unrolling measured no faster.
template <class Op>
QMDATA_AVX512 void Binary(int* out, const int* a, const int* b, std::size_t n) {
  std::size_t i = Head(out, n);
  if (i > 0) {
    const __mmask16 m = Lanes(i);
    _mm512_mask_storeu_epi32(out, m, Op::Vec(LoadPart(a, m), LoadPart(b, m)));
  }
  for (; i + 16 <= n; i += 16) {
    Store(out + i, Op::Vec(Load(a + i), Load(b + i)));
  }
  if (i < n) {
    const __mmask16 m = Lanes(n - i);
    _mm512_mask_storeu_epi32(out + i, m,
                             Op::Vec(LoadPart(a + i, m), LoadPart(b + i, m)));
  }
}

QMDATA_AVX512 void Scale(int* out, const int* a, int factor, std::size_t n) {
  const __m512i f = _mm512_set1_epi32(factor);
  std::size_t i = Head(out, n);
  if (i > 0) {
    const __mmask16 m = Lanes(i);
    _mm512_mask_storeu_epi32(out, m, _mm512_mullo_epi32(LoadPart(a, m), f));
  }
  for (; i + 16 <= n; i += 16) {
    Store(out + i, _mm512_mullo_epi32(Load(a + i), f));
  }
  if (i < n) {
    const __mmask16 m = Lanes(n - i);
    _mm512_mask_storeu_epi32(out + i, m,
                             _mm512_mullo_epi32(LoadPart(a + i, m), f));
  }
}

QMDATA_AVX512 int Dot(const int* a, const int* b, std::size_t n) {
  __m512i s0 = _mm512_setzero_si512(), s1 = s0, s2 = s0, s3 = s0;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    s0 = _mm512_add_epi32(s0, _mm512_mullo_epi32(Load(a + i), Load(b + i)));
    s1 = _mm512_add_epi32(
        s1, _mm512_mullo_epi32(Load(a + i + 16), Load(b + i + 16)));
    s2 = _mm512_add_epi32(
        s2, _mm512_mullo_epi32(Load(a + i + 32), Load(b + i + 32)));
    s3 = _mm512_add_epi32(
        s3, _mm512_mullo_epi32(Load(a + i + 48), Load(b + i + 48)));
  }
  for (; i + 16 <= n; i += 16) {
    s0 = _mm512_add_epi32(s0, _mm512_mullo_epi32(Load(a + i), Load(b + i)));
  }
  if (i < n) {
    const __mmask16 m = Lanes(n - i);
    s1 = _mm512_add_epi32(
        s1, _mm512_mullo_epi32(LoadPart(a + i, m), LoadPart(b + i, m)));
  }
  s0 = _mm512_add_epi32(_mm512_add_epi32(s0, s1), _mm512_add_epi32(s2, s3));
  return HSum(s0);
}

QMDATA_AVX512 int Sum(const int* a, std::size_t n) {
  __m512i s0 = _mm512_setzero_si512(), s1 = s0, s2 = s0, s3 = s0;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    s0 = _mm512_add_epi32(s0, Load(a + i));
    s1 = _mm512_add_epi32(s1, Load(a + i + 16));
    s2 = _mm512_add_epi32(s2, Load(a + i + 32));
    s3 = _mm512_add_epi32(s3, Load(a + i + 48));
  }
  for (; i + 16 <= n; i += 16) s0 = _mm512_add_epi32(s0, Load(a + i));
  if (i < n) s1 = _mm512_add_epi32(s1, LoadPart(a + i, Lanes(n - i)));
  s0 = _mm512_add_epi32(_mm512_add_epi32(s0, s1), _mm512_add_epi32(s2, s3));
  return HSum(s0);
}

QMDATA_AVX512 int SumSq(const int* a, std::size_t n) {
  __m512i s0 = _mm512_setzero_si512(), s1 = s0, s2 = s0, s3 = s0;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const __m512i x0 = Load(a + i), x1 = Load(a + i + 16),
                  x2 = Load(a + i + 32), x3 = Load(a + i + 48);
    s0 = _mm512_add_epi32(s0, _mm512_mullo_epi32(x0, x0));
    s1 = _mm512_add_epi32(s1, _mm512_mullo_epi32(x1, x1));
    s2 = _mm512_add_epi32(s2, _mm512_mullo_epi32(x2, x2));
    s3 = _mm512_add_epi32(s3, _mm512_mullo_epi32(x3, x3));
  }
  for (; i + 16 <= n; i += 16) {
    const __m512i x = Load(a + i);
    s0 = _mm512_add_epi32(s0, _mm512_mullo_epi32(x, x));
  }
  if (i < n) {
    const __m512i x = LoadPart(a + i, Lanes(n - i));
    s1 = _mm512_add_epi32(s1, _mm512_mullo_epi32(x, x));
  }
  s0 = _mm512_add_epi32(_mm512_add_epi32(s0, s1), _mm512_add_epi32(s2, s3));
  return HSum(s0);
}

struct MaxSel {
  QMDATA_AVX512 static __m512i Map(__m512i v) { return v; }
  QMDATA_AVX512 static __m512i Pick(__m512i a, __m512i b) {
    return _mm512_max_epi32(a, b);
  }
  QMDATA_AVX512 static int Horizontal(__m512i v) {
    return _mm512_reduce_max_epi32(v);
  }
};
struct MinSel {
  QMDATA_AVX512 static __m512i Map(__m512i v) { return v; }
  QMDATA_AVX512 static __m512i Pick(__m512i a, __m512i b) {
    return _mm512_min_epi32(a, b);
  }
  QMDATA_AVX512 static int Horizontal(__m512i v) {
    return _mm512_reduce_min_epi32(v);
  }
};
struct MaxAbsSel {
  // _mm512_abs_epi32 leaves -2147483648 as it is: the wrapped magnitude.
  QMDATA_AVX512 static __m512i Map(__m512i v) { return _mm512_abs_epi32(v); }
  QMDATA_AVX512 static __m512i Pick(__m512i a, __m512i b) {
    return _mm512_max_epi32(a, b);
  }
  QMDATA_AVX512 static int Horizontal(__m512i v) {
    return _mm512_reduce_max_epi32(v);
  }
};

// The remainder's missing lanes repeat element 0, which is part of the
// answer anyway.
template <class Sel>
QMDATA_AVX512 int Extreme(const int* a, std::size_t n) {
  const __m512i first = Sel::Map(_mm512_set1_epi32(a[0]));
  __m512i m0 = first, m1 = first, m2 = first, m3 = first;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    m0 = Sel::Pick(m0, Sel::Map(Load(a + i)));
    m1 = Sel::Pick(m1, Sel::Map(Load(a + i + 16)));
    m2 = Sel::Pick(m2, Sel::Map(Load(a + i + 32)));
    m3 = Sel::Pick(m3, Sel::Map(Load(a + i + 48)));
  }
  for (; i + 16 <= n; i += 16) m0 = Sel::Pick(m0, Sel::Map(Load(a + i)));
  if (i < n) {
    const __m512i rest =
        _mm512_mask_loadu_epi32(_mm512_set1_epi32(a[0]), Lanes(n - i), a + i);
    m1 = Sel::Pick(m1, Sel::Map(rest));
  }
  return Sel::Horizontal(Sel::Pick(Sel::Pick(m0, m1), Sel::Pick(m2, m3)));
}

QMDATA_AVX512 int Max(const int* a, std::size_t n) {
  return Extreme<MaxSel>(a, n);
}
QMDATA_AVX512 int Min(const int* a, std::size_t n) {
  return Extreme<MinSel>(a, n);
}
QMDATA_AVX512 int MaxAbs(const int* a, std::size_t n) {
  return Extreme<MaxAbsSel>(a, n);
}

template <bool kAbs>
QMDATA_AVX512 __mmask16 Match(__m512i v, __m512i want) {
  if (kAbs) v = _mm512_abs_epi32(v);
  return _mm512_cmpeq_epi32_mask(v, want);
}

template <bool kAbs>
QMDATA_AVX512 std::size_t Find(const int* a, std::size_t n, int value) {
  const __m512i want = _mm512_set1_epi32(value);
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    const unsigned m0 = Match<kAbs>(Load(a + i), want);
    const unsigned m1 = Match<kAbs>(Load(a + i + 16), want);
    const unsigned m2 = Match<kAbs>(Load(a + i + 32), want);
    const unsigned m3 = Match<kAbs>(Load(a + i + 48), want);
    const unsigned long long all = static_cast<unsigned long long>(m0) |
                                   (static_cast<unsigned long long>(m1) << 16) |
                                   (static_cast<unsigned long long>(m2) << 32) |
                                   (static_cast<unsigned long long>(m3) << 48);
    if (all != 0) return i + static_cast<std::size_t>(__builtin_ctzll(all));
  }
  for (; i < n; i += 16) {
    const __mmask16 lanes = n - i >= 16 ? __mmask16(0xFFFF) : Lanes(n - i);
    const unsigned m = Match<kAbs>(LoadPart(a + i, lanes), want) & lanes;
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctz(m));
  }
  return n;
}

QMDATA_AVX512 std::size_t FindEq(const int* a, std::size_t n, int value) {
  return Find<false>(a, n, value);
}
QMDATA_AVX512 std::size_t FindAbs(const int* a, std::size_t n, int value) {
  return Find<true>(a, n, value);
}

QMDATA_AVX512 void VecMat(int* out, const int* v, const int* a,
                          std::ptrdiff_t cols, std::size_t k, std::size_t n) {
  std::memset(out, 0, n * sizeof(int));
  const std::size_t full = n & ~std::size_t{15};
  const __mmask16 tail = Lanes(n - full);
  std::size_t i = 0;
  for (; i + 4 <= k; i += 4) {
    const int* r0 = a + static_cast<std::ptrdiff_t>(i) * cols;
    const int* r1 = r0 + cols;
    const int* r2 = r1 + cols;
    const int* r3 = r2 + cols;
    const __m512i f0 = _mm512_set1_epi32(v[i]);
    const __m512i f1 = _mm512_set1_epi32(v[i + 1]);
    const __m512i f2 = _mm512_set1_epi32(v[i + 2]);
    const __m512i f3 = _mm512_set1_epi32(v[i + 3]);
    for (std::size_t j = 0; j < full; j += 16) {
      __m512i acc = _mm512_add_epi32(_mm512_mullo_epi32(f0, Load(r0 + j)),
                                     _mm512_mullo_epi32(f1, Load(r1 + j)));
      acc = _mm512_add_epi32(acc, _mm512_mullo_epi32(f2, Load(r2 + j)));
      acc = _mm512_add_epi32(acc, _mm512_mullo_epi32(f3, Load(r3 + j)));
      Store(out + j, _mm512_add_epi32(Load(out + j), acc));
    }
    if (full < n) {
      const std::size_t j = full;
      __m512i acc =
          _mm512_add_epi32(_mm512_mullo_epi32(f0, LoadPart(r0 + j, tail)),
                           _mm512_mullo_epi32(f1, LoadPart(r1 + j, tail)));
      acc =
          _mm512_add_epi32(acc, _mm512_mullo_epi32(f2, LoadPart(r2 + j, tail)));
      acc =
          _mm512_add_epi32(acc, _mm512_mullo_epi32(f3, LoadPart(r3 + j, tail)));
      _mm512_mask_storeu_epi32(out + j, tail,
                               _mm512_add_epi32(LoadPart(out + j, tail), acc));
    }
  }
  for (; i < k; ++i) {
    const int* r0 = a + static_cast<std::ptrdiff_t>(i) * cols;
    const __m512i f0 = _mm512_set1_epi32(v[i]);
    for (std::size_t j = 0; j < n; j += 16) {
      const __mmask16 m = n - j >= 16 ? __mmask16(0xFFFF) : tail;
      _mm512_mask_storeu_epi32(
          out + j, m,
          _mm512_add_epi32(LoadPart(out + j, m),
                           _mm512_mullo_epi32(f0, LoadPart(r0 + j, m))));
    }
  }
}

QMDATA_AVX512 void VecMatT(int* out, const int* v, const int* a,
                           std::ptrdiff_t cols, std::size_t k, std::size_t n) {
  const std::size_t full = k & ~std::size_t{15};
  const __mmask16 tail = Lanes(k - full);
  std::size_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const int* r0 = a + static_cast<std::ptrdiff_t>(j) * cols;
    const int* r1 = r0 + cols;
    const int* r2 = r1 + cols;
    const int* r3 = r2 + cols;
    __m512i s0 = _mm512_setzero_si512(), s1 = s0, s2 = s0, s3 = s0;
    for (std::size_t i = 0; i < full; i += 16) {
      const __m512i x = Load(v + i);
      s0 = _mm512_add_epi32(s0, _mm512_mullo_epi32(x, Load(r0 + i)));
      s1 = _mm512_add_epi32(s1, _mm512_mullo_epi32(x, Load(r1 + i)));
      s2 = _mm512_add_epi32(s2, _mm512_mullo_epi32(x, Load(r2 + i)));
      s3 = _mm512_add_epi32(s3, _mm512_mullo_epi32(x, Load(r3 + i)));
    }
    if (full < k) {
      const std::size_t i = full;
      const __m512i x = LoadPart(v + i, tail);
      s0 = _mm512_add_epi32(s0, _mm512_mullo_epi32(x, LoadPart(r0 + i, tail)));
      s1 = _mm512_add_epi32(s1, _mm512_mullo_epi32(x, LoadPart(r1 + i, tail)));
      s2 = _mm512_add_epi32(s2, _mm512_mullo_epi32(x, LoadPart(r2 + i, tail)));
      s3 = _mm512_add_epi32(s3, _mm512_mullo_epi32(x, LoadPart(r3 + i, tail)));
    }
    out[j] = HSum(s0);
    out[j + 1] = HSum(s1);
    out[j + 2] = HSum(s2);
    out[j + 3] = HSum(s3);
  }
  for (; j < n; ++j) {
    out[j] = Dot(v, a + static_cast<std::ptrdiff_t>(j) * cols, k);
  }
}

}  // namespace avx512

constexpr Kernels kAvx512 = {"avx512",
                             avx512::Binary<avx512::Add>,
                             avx512::Binary<avx512::Sub>,
                             avx512::Binary<avx512::Mul>,
                             avx512::Scale,
                             avx512::Dot,
                             avx512::Sum,
                             avx512::SumSq,
                             avx512::Max,
                             avx512::Min,
                             avx512::MaxAbs,
                             avx512::FindEq,
                             avx512::FindAbs,
                             avx512::VecMat,
                             avx512::VecMatT};

bool CpuHas(Isa isa) {
  __builtin_cpu_init();  // may run before the program's own constructors
  switch (isa) {
    case Isa::kAvx2:
      return __builtin_cpu_supports("avx2");
    case Isa::kAvx512:
      return __builtin_cpu_supports("avx2") &&
             __builtin_cpu_supports("avx512f");
    default:
      return true;
  }
}

#endif  // QMDATA_KERNELS_X86

const Kernels* Choose() {
  if (const Kernels* k = KernelsFor(Isa::kAvx512)) return k;
  if (const Kernels* k = KernelsFor(Isa::kAvx2)) return k;
  return &kBaseline;
}

}  // namespace

const Kernels* KernelsFor(Isa isa) {
  switch (isa) {
    case Isa::kBaseline:
      return &kBaseline;
#if QMDATA_KERNELS_X86
    case Isa::kAvx2:
      return CpuHas(isa) ? &kAvx2 : nullptr;
    case Isa::kAvx512:
      return CpuHas(isa) ? &kAvx512 : nullptr;
#endif
    default:
      return nullptr;
  }
}

const Kernels& Active() {
  // Chosen once; the guard makes the first call safe from any thread.
  static const Kernels* const chosen = Choose();
  return *chosen;
}

}  // namespace qmdata::detail
