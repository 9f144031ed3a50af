// SPDX-License-Identifier: MIT
// The wide levels' hand-written loops, written once over a level's traits W.
// Internal; not installed. A wide unit defines W and then includes this
// file in the same unnamed namespace, so everything here has the unit's
// flags and internal linkage. W gives the
// register type V of kLanes ints; Zero, Splat, Load (unaligned),
// LoadAligned, Store (aligned); LoadFrom(p, k), the aligned block at p
// without reading its first k lanes; LoadPart(p, n, fill), p[0, n) in the
// low lanes (all of them when n >= kLanes) and fill in the others; Join<k>,
// the register k lanes into one block and on into the next; Do(op, x, y),
// Max, Min and Abs lane by lane, wrapping; Fold(v, f), the lanes combined
// with f; Eq, the bit mask of equal lanes; Part<Op>(out, b, n), out op= b
// for a head or remainder; and kJoinDot, whether the dot product joins b.
//
// The in-place operations and the reductions run from the first register
// boundary of out (of a) on, after a partial step, so that no aligned load
// or store splits a cache line. Where b then lies kShift lanes past a
// boundary, it is read in aligned blocks too, each register joined from two:
// loads of b as it lies would split a cache line at every 64 bytes of b.
// The join takes the shift as an immediate, so each shift has its own
// function, the whole operation, picked once per call from a table.

#ifndef QMDATA_SRC_MATHLA_KERNELS_WIDE_H_
#define QMDATA_SRC_MATHLA_KERNELS_WIDE_H_

using V = W::V;
inline constexpr std::size_t kL = W::kLanes;
using LW = Loops<kL>;

// b from b + i on, one register per Next(), i advancing kLanes. REQUIRES:
// at least kLanes - kShift elements of b from b + i on, and Next() called
// only while kSlack more follow the register it returns: every block read
// then lies within b (the first one's lanes before b + i are not read).
template <int kShift>
class BReader {
 public:
  static constexpr std::size_t kSlack = kShift == 0 ? 0 : kL - kShift;
  BReader(const int* b, std::size_t i) : at_(b + i - kShift) {
    if constexpr (kShift != 0) lo_ = W::LoadFrom(at_, kShift);
  }
  V Next() {
    at_ += kL;
    if constexpr (kShift == 0) return W::Load(at_ - kL);
    V hi = W::LoadAligned(at_);
    // The empty asm makes hi opaque: GCC would otherwise fold the load into
    // the join as its memory operand where the join is one shuffle, and read
    // each block twice, once for each register that it joins.
    __asm__("" : "+v"(hi));
    const V y = W::template Join<kShift>(lo_, hi);
    lo_ = hi;
    return y;
  }

 private:
  const int* at_;
  V lo_;
};

// Fn's for shifts 0 to kLanes, Op::Run<shift>; at kLanes, b is not even
// 4-byte aligned and is loaded as it lies.
template <class Fn, class Op, int... kShift>
constexpr std::array<Fn, sizeof...(kShift)> ShiftTable(
    std::integer_sequence<int, kShift...>) {
  return {Op::template Run<kShift % static_cast<int>(kL)>...};
}
inline constexpr auto kShifts = std::make_integer_sequence<int, kL + 1>();

template <class Op>
void Step(int* out, V y) {
  W::Store(out, W::Do(Op{}, W::LoadAligned(out), y));
}

// out op= b over [i, n), out + i on a register boundary: four registers per
// step, then one, then the remainder. REQUIRES: n - i >= kLanes.
template <class Op, int kShift>
[[gnu::always_inline]] inline void InPlaceBody(int* __restrict out,
                                               const int* __restrict b,
                                               std::size_t i, std::size_t n) {
  constexpr std::size_t kSlack = BReader<kShift>::kSlack;
  BReader<kShift> y(b, i);
  for (; i + 4 * kL + kSlack <= n; i += 4 * kL) {
    const V y0 = y.Next(), y1 = y.Next(), y2 = y.Next(), y3 = y.Next();
    Step<Op>(out + i, y0);
    Step<Op>(out + i + kL, y1);
    Step<Op>(out + i + 2 * kL, y2);
    Step<Op>(out + i + 3 * kL, y3);
  }
  for (; i + kL + kSlack <= n; i += kL) Step<Op>(out + i, y.Next());
  W::template Part<Op>(out + i, b + i, n - i);
}

// Where out is on a boundary already, the steps start from 0, so that their
// first loads wait for nothing but the operands' addresses.
template <class Op>
struct InPlaceAt {
  template <int kShift>
  static void Run(int* __restrict out, const int* __restrict b, std::size_t n) {
    const std::size_t head = LW::Head(out, n);
    if (head == 0) return InPlaceBody<Op, kShift>(out, b, 0, n);
    W::template Part<Op>(out, b, head);
    InPlaceBody<Op, kShift>(out, b, head, n);
  }
};
using InPlaceFn = void (*)(int*, const int*, std::size_t);
template <class Op>
constexpr auto kInPlaceAt = ShiftTable<InPlaceFn, InPlaceAt<Op>>(kShifts);

// out op= b, b apart from out.
template <class Op>
void InPlace(int* out, const int* b, std::size_t n) {
  if (n < 2 * kL) return W::template Part<Op>(out, b, n);
  const auto& at = kInPlaceAt<Op>;
  at[LW::Shift(b + LW::Head(out, n))](out, b, n);
}

// The reductions, R: each partial result starts as Of(fill, fill) and
// takes With(itself, Of(x, y)) for each register x of a and y of b, the
// missing lanes of a partial register being fill. The sum passes a as b.
template <bool kDot>
struct WideSums {
  static V Fill(const int*) { return W::Zero(); }
  static V Of(V x, V y) { return kDot ? W::Do(MulOp{}, x, y) : y; }
  static V With(V s, V t) { return W::Do(AddOp{}, s, t); }
};
// Each element or its magnitude (kAbs); the fill, element 0, is part of
// the answer anyway. REQUIRES: n >= 1.
template <bool kMin, bool kAbs>
struct WideExtremes {
  static V Fill(const int* a) { return W::Splat(a[0]); }
  static V Of(V, V y) { return kAbs ? W::Abs(y) : y; }
  static V With(V s, V t) { return kMin ? W::Min(s, t) : W::Max(s, t); }
};
template <class R>
V Partial(V s, const int* a, const int* b, std::size_t n, V fill) {
  for (std::size_t i = 0; i < n; i += kL)
    s = R::With(s, R::Of(W::LoadPart(a + i, n - i, fill),
                         W::LoadPart(b + i, n - i, fill)));
  return s;
}

// As InPlaceAt: a from its register boundary on, four partial results.
template <class R>
struct ReduceAt {
  template <int kShift>
  static int Run(const int* a, const int* b, std::size_t n) {
    constexpr std::size_t kSlack = BReader<kShift>::kSlack;
    const V fill = R::Fill(a), init = R::Of(fill, fill);
    const auto take = [&](V s, std::size_t at, V y) {
      return R::With(s, R::Of(W::LoadAligned(a + at), y));
    };
    std::size_t i = n < 2 * kL ? n : LW::Head(a, n);
    V s0 = Partial<R>(init, a, b, i, fill), s1 = init, s2 = init, s3 = init;
    if (i < n) {
      BReader<kShift> y(b, i);
      for (; i + 4 * kL + kSlack <= n; i += 4 * kL) {
        s0 = take(s0, i, y.Next());
        s1 = take(s1, i + kL, y.Next());
        s2 = take(s2, i + 2 * kL, y.Next());
        s3 = take(s3, i + 3 * kL, y.Next());
      }
      for (; i + kL + kSlack <= n; i += kL) s0 = take(s0, i, y.Next());
      s1 = Partial<R>(s1, a + i, b + i, n - i, fill);
    }
    return W::Fold(R::With(R::With(s0, s1), R::With(s2, s3)),
                   [](V x, V y) { return R::With(x, y); });
  }
};
using ReduceFn = int (*)(const int*, const int*, std::size_t);
template <bool kJoin>
constexpr auto kDotAt = ShiftTable<ReduceFn, ReduceAt<WideSums<true>>>(kShifts);

// b joined where the level's kJoinDot says so; a after its head is on a
// boundary, so the other reductions run the unjoined loop.
template <bool kJoin>
int Dot(const int* a, const int* b, std::size_t n) {
  if constexpr (kJoin) {
    if (n >= 2 * kL) {
      const auto& at = kDotAt<kJoin>;
      return at[LW::Shift(b + LW::Head(a, n))](a, b, n);
    }
  }
  return ReduceAt<WideSums<true>>::Run<0>(a, b, n);
}
template <class R>
int Reduce(const int* a, std::size_t n) {
  return ReduceAt<R>::template Run<0>(a, a, n);
}

// The first match: four registers per step, their masks joined into one
// word, then one register (partial at the end) at a time.
template <bool kAbs>
std::size_t Find(const int* a, std::size_t n, int value) {
  const V want = W::Splat(value);
  const auto match = [&](V v) -> unsigned long long {
    return W::Eq(kAbs ? W::Abs(v) : v, want);
  };
  std::size_t i = 0;
  for (; i + 4 * kL <= n; i += 4 * kL) {
    const unsigned long long m = match(W::Load(a + i)) |
                                 match(W::Load(a + i + kL)) << kL |
                                 match(W::Load(a + i + 2 * kL)) << 2 * kL |
                                 match(W::Load(a + i + 3 * kL)) << 3 * kL;
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  for (; i < n; i += kL) {
    unsigned long long m = match(W::LoadPart(a + i, n - i, W::Zero()));
    if (n - i < kL) m &= (1ULL << (n - i)) - 1;
    if (m != 0) return i + static_cast<std::size_t>(__builtin_ctzll(m));
  }
  return n;
}

// The unit's table: the compiler's loops, these in their place.
inline constexpr Kernels kWideTable = [] {
  Kernels k = MakeKernels<kL>(W::kName);
  k.add_to = InPlace<AddOp>;
  k.sub_from = InPlace<SubOp>;
  k.mul_by = InPlace<MulOp>;
  k.dot = Dot<W::kJoinDot>;
  k.sum = Reduce<WideSums<false>>;
  k.max = Reduce<WideExtremes<false, false>>;
  k.min = Reduce<WideExtremes<true, false>>;
  k.maxabs = Reduce<WideExtremes<false, true>>;
  k.find_eq = Find<false>;
  k.find_abs = Find<true>;
  return k;
}();

#endif  // QMDATA_SRC_MATHLA_KERNELS_WIDE_H_
