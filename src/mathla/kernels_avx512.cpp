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
struct WideSum {
  static __m512i Pick(__m512i a, __m512i b) {
    return _mm512_maskz_add_epi32(kAll, a, b);
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

// The element-wise operations in place and the dot product, hand-written
// too. The head up to the 64-byte boundary of out (of a, for the dot
// product) is one masked step, so that no store after it splits a cache
// line, and so is each step of the remainder, where the compiler's loop
// takes up to 15 scalar steps at either end.
//
// b is read in 64-byte blocks too. Where b + i lies kShift lanes past a
// block boundary, each register of b is joined from two aligned blocks
// (valignd): an unaligned load there splits a cache line every time, which
// costs more than the join (at 1 Ki elements, b 16 bytes off: a += b took
// 0.85 of the time of the plain -O3 -march=native loop with the join, 0.95
// with unaligned loads; 32 bytes off, 0.91-0.95 and 1.2). The shift is an
// immediate, so each shift has its own function, the whole operation,
// chosen once per call.
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

using L16 = Loops<16>;

// The loop each shift runs: its own where b is joined from aligned blocks
// (1 to 15 lanes off), else (on a boundary, or not even 4-byte aligned) the
// one that loads b as it lies.
constexpr int LoopShift(int shift) { return shift % 16; }
template <int kShift>
constexpr bool kJoined = LoopShift(kShift) != 0;

// Sixteen elements of b, kShift lanes into the aligned block lo and on into
// the next one, hi.
template <int kShift>
__m512i Join(__m512i lo, __m512i hi) {
  return _mm512_maskz_alignr_epi32(kAll, hi, lo, kShift);
}

// Reads b from b + i on, one register at a time: Next() is b[i, i + 16)
// with i advancing 16 at each call. REQUIRES: at least 16 - kShift elements
// of b from b + i on, and Next() called only while 16 - kShift more
// follow the register it returns; every block read then lies within b
// (the first one's lanes before b + i are masked off).
template <int kShift>
class BReader {
 public:
  BReader(const int* b, std::size_t i) : at_(b + i - kShift) {
    if constexpr (kJoined<kShift>)
      lo_ =
          _mm512_maskz_load_epi32(static_cast<__mmask16>(kAll << kShift), at_);
  }
  __m512i Next() {
    at_ += 16;
    if constexpr (!kJoined<kShift>) return _mm512_loadu_si512(at_ - 16);
    __m512i hi = _mm512_load_si512(at_);
    __asm__("" : "+v"(hi));  // each block read once (kernels_avx2.cpp)
    const __m512i y = Join<kShift>(lo_, hi);
    lo_ = hi;
    return y;
  }
  // The elements beyond the last register Next() may return.
  static constexpr std::size_t kSlack = kJoined<kShift> ? 16 - kShift : 0;

 private:
  const int* at_;
  __m512i lo_;
};

// out[i] = out[i] op b[i] for the lanes given.
template <class Op>
void MaskedStep(int* out, const int* b, __mmask16 lanes) {
  const __m512i x = _mm512_maskz_loadu_epi32(lanes, out);
  const __m512i y = _mm512_maskz_loadu_epi32(lanes, b);
  _mm512_mask_storeu_epi32(out, lanes, Op::F(x, y));
}

template <class Op>
void Step(int* out, __m512i y) {
  _mm512_store_si512(out, Op::F(_mm512_load_si512(out), y));
}

// out op= b over [i, n), out + i on a 64-byte boundary: four registers per
// step, then one, then the masked remainder. REQUIRES: n - i >= 16.
template <class Op, int kShift>
[[gnu::always_inline]] inline void InPlaceBody(int* out, const int* b,
                                               std::size_t i, std::size_t n) {
  constexpr std::size_t kSlack = BReader<kShift>::kSlack;
  BReader<kShift> y(b, i);
  for (; i + 64 + kSlack <= n; i += 64) {
    const __m512i y0 = y.Next(), y1 = y.Next(), y2 = y.Next(), y3 = y.Next();
    Step<Op>(out + i, y0);
    Step<Op>(out + i + 16, y1);
    Step<Op>(out + i + 32, y2);
    Step<Op>(out + i + 48, y3);
  }
  for (; i + 16 + kSlack <= n; i += 16) Step<Op>(out + i, y.Next());
  for (; i < n; i += 16) MaskedStep<Op>(out + i, b + i, Lanes(n - i));
}

// out op= b where b lies kShift lanes past a 64-byte boundary at the end of
// out's head. Where out is on one already, the steps start from 0, so that
// their first loads wait for nothing but the operands' addresses.
// REQUIRES: n >= 32.
template <class Op, int kShift>
void InPlaceAt(int* out, const int* b, std::size_t n) {
  const std::size_t head = L16::Head(out, n);
  if (head == 0) return InPlaceBody<Op, kShift>(out, b, 0, n);
  MaskedStep<Op>(out, b, Lanes(head));
  InPlaceBody<Op, kShift>(out, b, head, n);
}

using InPlaceFn = void (*)(int*, const int*, std::size_t);
template <class Op>
struct InPlaceShifts {
  template <int kShift>
  static constexpr InPlaceFn At = InPlaceAt<Op, LoopShift(kShift)>;
};
template <class Op>
constexpr auto kInPlaceAt = MakeShiftTable<InPlaceFn, InPlaceShifts<Op>>(
    std::make_integer_sequence<int, 17>());

// out op= b, b apart from out.
template <class Op>
void InPlace(int* out, const int* b, std::size_t n) {
  if (n >= 32) {
    const unsigned shift = L16::Shift(b + L16::Head(out, n));
    return kInPlaceAt<Op>.at[shift](out, b, n);
  }
  for (std::size_t i = 0; i < n; i += 16)
    MaskedStep<Op>(out + i, b + i, Lanes(n - i));
}

// sum + a[i] * b[i] for the lanes given.
__m512i MaskedProduct(__m512i sum, const int* a, const int* b,
                      __mmask16 lanes) {
  return _mm512_add_epi32(
      sum, _mm512_mullo_epi32(_mm512_maskz_loadu_epi32(lanes, a),
                              _mm512_maskz_loadu_epi32(lanes, b)));
}

// sum + a[0, 16) * y, a on a 64-byte boundary.
__m512i Product(__m512i sum, const int* a, __m512i y) {
  return _mm512_add_epi32(sum, _mm512_mullo_epi32(_mm512_load_si512(a), y));
}

// The dot product over [i, n) plus s, a + i on a 64-byte boundary, as in
// InPlaceBody; four sums. REQUIRES: n - i >= 16.
template <int kShift>
[[gnu::always_inline]] inline int DotBody(const int* a, const int* b,
                                          std::size_t i, std::size_t n,
                                          __m512i s0) {
  constexpr std::size_t kSlack = BReader<kShift>::kSlack;
  BReader<kShift> y(b, i);
  __m512i s1 = _mm512_setzero_si512(), s2 = s1, s3 = s1;
  for (; i + 64 + kSlack <= n; i += 64) {
    s0 = Product(s0, a + i, y.Next());
    s1 = Product(s1, a + i + 16, y.Next());
    s2 = Product(s2, a + i + 32, y.Next());
    s3 = Product(s3, a + i + 48, y.Next());
  }
  for (; i + 16 + kSlack <= n; i += 16) s0 = Product(s0, a + i, y.Next());
  for (; i < n; i += 16) s1 = MaskedProduct(s1, a + i, b + i, Lanes(n - i));
  return Horizontal<WideSum>(
      _mm512_add_epi32(_mm512_add_epi32(s0, s1), _mm512_add_epi32(s2, s3)));
}

// The dot product where b lies kShift lanes past a 64-byte boundary at the
// end of a's head.
// REQUIRES: n >= 32.
template <int kShift>
int DotAt(const int* a, const int* b, std::size_t n) {
  const std::size_t head = L16::Head(a, n);
  const __m512i zero = _mm512_setzero_si512();
  if (head == 0) return DotBody<kShift>(a, b, 0, n, zero);
  return DotBody<kShift>(a, b, head, n, MaskedProduct(zero, a, b, Lanes(head)));
}

using DotFn = int (*)(const int*, const int*, std::size_t);
struct DotShifts {
  template <int kShift>
  static constexpr DotFn At = DotAt<LoopShift(kShift)>;
};
constexpr auto kDotAt =
    MakeShiftTable<DotFn, DotShifts>(std::make_integer_sequence<int, 17>());

int Dot(const int* a, const int* b, std::size_t n) {
  if (n >= 32) return kDotAt.at[L16::Shift(b + L16::Head(a, n))](a, b, n);
  __m512i s = _mm512_setzero_si512();
  for (std::size_t i = 0; i < n; i += 16)
    s = MaskedProduct(s, a + i, b + i, Lanes(n - i));
  return Horizontal<WideSum>(s);
}

// The sum, read from a's 64-byte boundary on, four sums.
int Sum(const int* a, std::size_t n) {
  std::size_t i = L16::Head(a, n);
  __m512i s0 = _mm512_maskz_loadu_epi32(Lanes(i), a);
  __m512i s1 = _mm512_setzero_si512(), s2 = s1, s3 = s1;
  for (; i + 64 <= n; i += 64) {
    s0 = _mm512_add_epi32(s0, _mm512_load_si512(a + i));
    s1 = _mm512_add_epi32(s1, _mm512_load_si512(a + i + 16));
    s2 = _mm512_add_epi32(s2, _mm512_load_si512(a + i + 32));
    s3 = _mm512_add_epi32(s3, _mm512_load_si512(a + i + 48));
  }
  for (; i < n; i += 16)
    s1 = _mm512_add_epi32(s1, _mm512_maskz_loadu_epi32(Lanes(n - i), a + i));
  return Horizontal<WideSum>(
      _mm512_add_epi32(_mm512_add_epi32(s0, s1), _mm512_add_epi32(s2, s3)));
}

constexpr Kernels kAvx512Table = [] {
  Kernels k = MakeKernels<16>("avx512");
  k.add_to = InPlace<WideAdd>;
  k.sub_from = InPlace<WideSub>;
  k.mul_by = InPlace<WideMul>;
  k.dot = Dot;
  k.sum = Sum;
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
