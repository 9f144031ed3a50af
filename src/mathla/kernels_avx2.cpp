// SPDX-License-Identifier: MIT
// The AVX2 level: the element loops compiled with -mavx2 where the build
// gives this unit that flag (CMakeLists.txt); elsewhere the level does not
// exist.

#include "mathla/kernels_loops.h"

#if defined(__AVX2__)
#include <cstdint>

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

// The sum, hand-written (as the dot product below): the compiler's loop
// keeps its four registers of partial sums in an array on the stack,
// realigned, zeroed and stored around the loop, which cost the dot product
// at 1 Ki elements a tenth. Here they stay in registers. The sum of squares
// stays the compiler's loop, which loads each element once.
// Terms of the sums, F for one element and W for eight.
struct WideFirst : FirstTerm {
  static __m256i W(__m256i a, __m256i) { return a; }
};

__m256i Load(const int* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The wrapped sum of the lanes of four registers.
int Horizontal(__m256i s0, __m256i s1, __m256i s2, __m256i s3) {
  const __m256i s =
      _mm256_add_epi32(_mm256_add_epi32(s0, s1), _mm256_add_epi32(s2, s3));
  __m128i h =
      _mm_add_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0x4E));
  h = _mm_add_epi32(h, _mm_shuffle_epi32(h, 0xB1));
  return _mm_cvtsi128_si32(h);
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
  unsigned t = U(Horizontal(s0, s1, s2, s3));
  for (; i < n; ++i) t += Term::F(a[i], b[i]);
  return S(t);
}
int Sum(const int* a, std::size_t n) { return Accumulate<WideFirst>(a, a, n); }

// The element-wise operations in place, as on the AVX-512 level
// (kernels_avx512.cpp): stores from out's 32-byte boundary on, after a
// scalar head, and b, wherever it lies off a 32-byte boundary, read in
// aligned blocks, each register joined from two with one lane-crossing
// shuffle, and one more where b is not 16 bytes off. The plain
// -O3 -march=native loop splits a cache line at every other load there; at
// 1 Ki elements the join takes 0.88 of its time 4 bytes off and 0.86-0.93
// 16 bytes off (64 Ki: 0.8). One function per shift, the whole operation.
struct WideAdd : AddOp {
  static __m256i W(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
};
struct WideSub : SubOp {
  static __m256i W(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
};
struct WideMul : MulOp {
  static __m256i W(__m256i a, __m256i b) { return _mm256_mullo_epi32(a, b); }
};

using L8 = Loops<8>;

// The loop each shift runs: its own where b is joined (1 to 7 lanes off),
// else (on a boundary, or not even 4-byte aligned) the one that loads b as
// it lies.
constexpr int LoopShift(int shift) { return shift % 8; }
template <int kShift>
constexpr bool kJoined = LoopShift(kShift) != 0;

// Eight elements of b, kShift lanes into the aligned block lo and on into
// the next one, hi.
template <int kShift>
__m256i Join(__m256i lo, __m256i hi) {
  const __m256i mid = _mm256_permute2x128_si256(lo, hi, 0x21);
  if constexpr (kShift < 4) {
    return _mm256_alignr_epi8(mid, lo, 4 * kShift);
  } else if constexpr (kShift == 4) {
    return mid;
  } else {
    return _mm256_alignr_epi8(hi, mid, 4 * (kShift - 4));
  }
}

// Reads b from b + i on, one register at a time, as BReader on the AVX-512
// level. REQUIRES: at least 8 - kShift elements of b from b + i on, and
// Next() called only while 8 - kShift more follow the register it returns.
template <int kShift>
class BReader {
 public:
  BReader(const int* b, std::size_t i) : at_(b + i - kShift) {
    if constexpr (kJoined<kShift>) {
      const __m256i lanes =
          _mm256_cmpgt_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                             _mm256_set1_epi32(kShift - 1));
      lo_ = _mm256_maskload_epi32(at_, lanes);
    }
  }
  __m256i Next() {
    at_ += 8;
    if constexpr (!kJoined<kShift>) return Load(at_ - 8);
    __m256i hi = _mm256_load_si256(reinterpret_cast<const __m256i*>(at_));
    // Each block once, from its register: left to itself, GCC reads the
    // block again as the shuffle's memory operand where the join is that
    // shuffle alone (16 bytes off), and the loop then lost to the native
    // one (1.08-1.10 of its time at 1 Ki, against 0.92 with one read).
    __asm__("" : "+x"(hi));
    const __m256i y = Join<kShift>(lo_, hi);
    lo_ = hi;
    return y;
  }
  static constexpr std::size_t kSlack = kJoined<kShift> ? 8 - kShift : 0;

 private:
  const int* at_;
  __m256i lo_;
};

template <class Op>
void Step(int* out, __m256i y) {
  auto* p = reinterpret_cast<__m256i*>(out);
  _mm256_store_si256(p, Op::W(_mm256_load_si256(p), y));
}

// out op= b over [i, n), out + i on a 32-byte boundary: four registers per
// step, then one, then scalar steps. REQUIRES: n - i >= 8.
template <class Op, int kShift>
[[gnu::always_inline]] inline void InPlaceBody(int* __restrict out,
                                               const int* __restrict b,
                                               std::size_t i, std::size_t n) {
  constexpr std::size_t kSlack = BReader<kShift>::kSlack;
  BReader<kShift> y(b, i);
  for (; i + 32 + kSlack <= n; i += 32) {
    const __m256i y0 = y.Next(), y1 = y.Next(), y2 = y.Next(), y3 = y.Next();
    Step<Op>(out + i, y0);
    Step<Op>(out + i + 8, y1);
    Step<Op>(out + i + 16, y2);
    Step<Op>(out + i + 24, y3);
  }
  for (; i + 8 + kSlack <= n; i += 8) Step<Op>(out + i, y.Next());
  for (; i < n; ++i) out[i] = S(Op::F(U(out[i]), U(b[i])));
}

// out op= b where b lies kShift lanes past a 32-byte boundary at the end of
// out's head (done scalar). Where out is on one already, the steps start
// from 0, so that their first loads wait for nothing but the operands'
// addresses.
// REQUIRES: n >= 16.
template <class Op, int kShift>
void InPlaceAt(int* __restrict out, const int* __restrict b, std::size_t n) {
  const std::size_t head = L8::Head(out, n);
  if (head == 0) return InPlaceBody<Op, kShift>(out, b, 0, n);
  for (std::size_t i = 0; i < head; ++i) out[i] = S(Op::F(U(out[i]), U(b[i])));
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
    std::make_integer_sequence<int, 9>());

// out op= b, b apart from out.
template <class Op>
void InPlace(int* out, const int* b, std::size_t n) {
  if (n >= 16) {
    const unsigned shift = L8::Shift(b + L8::Head(out, n));
    return kInPlaceAt<Op>.at[shift](out, b, n);
  }
  for (std::size_t i = 0; i < n; ++i) out[i] = S(Op::F(U(out[i]), U(b[i])));
}

// The dot product: a scalar head up to a's 32-byte boundary, then four
// sums, b loaded as it lies (joining its registers, as the in-place
// operations do, measured slower here, with no stores to wait for).
int Dot(const int* a, const int* b, std::size_t n) {
  unsigned t = 0;
  std::size_t i = 0;
  for (const std::size_t head = L8::Head(a, n); i < head; ++i)
    t += U(a[i]) * U(b[i]);
  const auto product = [&](__m256i s, std::size_t at) {
    const __m256i x =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(a + at));
    return _mm256_add_epi32(s, _mm256_mullo_epi32(x, Load(b + at)));
  };
  __m256i s0 = _mm256_setzero_si256(), s1 = s0, s2 = s0, s3 = s0;
  for (; i + 32 <= n; i += 32) {
    s0 = product(s0, i);
    s1 = product(s1, i + 8);
    s2 = product(s2, i + 16);
    s3 = product(s3, i + 24);
  }
  for (; i + 8 <= n; i += 8) s0 = product(s0, i);
  for (; i < n; ++i) t += U(a[i]) * U(b[i]);
  return S(t + U(Horizontal(s0, s1, s2, s3)));
}

constexpr Kernels kAvx2Table = [] {
  Kernels k = MakeKernels<8>("avx2");
  k.dot = Dot;
  k.sum = Sum;
  k.add_to = InPlace<WideAdd>;
  k.sub_from = InPlace<WideSub>;
  k.mul_by = InPlace<WideMul>;
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
