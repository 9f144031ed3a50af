// SPDX-License-Identifier: MIT
// The wide levels' loops over a level's traits W, which a wide unit defines
// before including this file in its unnamed namespace: V, a register of kLanes
// ints; Zero, Splat, Load, LoadAligned, Store (aligned); LoadFrom(p, k), the
// aligned block at p without its first k lanes; LoadPart(p, n, fill), p[0, n)
// in the low lanes (all when n >= kLanes), fill in the others; Join<k>, the
// register k lanes into one block and on into the next; Do(op, x, y), Max,
// Min, Abs lane by lane, wrapping; Fold(v, f), the lanes combined by f; Eq,
// the mask of equal lanes; Part<Op>(out, b, n), out op= b for a head or
// remainder; kJoinDot, whether the dot product joins b.
// The in-place operations and reductions run from the first register boundary
// of out (of a) on, so that no aligned load or store splits a cache line; b,
// where it lies kShift lanes past a boundary, is read in aligned blocks too,
// each register joined from two. The join takes the shift as an immediate, so
// each shift has its own function, picked once per call from a table.

#ifndef QMDATA_SRC_MATHLA_KERNELS_WIDE_H_
#define QMDATA_SRC_MATHLA_KERNELS_WIDE_H_

using V = W::V;
inline constexpr std::size_t kL = W::kLanes;
using LW = Loops<kL>;
// b from b + i on, a register per Next(). REQUIRES: kLanes - kShift elements
// from b + i on, and Next() only while kSlack more follow the register it
// returns, so every block read lies in b. The first block may start before b
// (LoadFrom skips those lanes), so its address is made as an integer.
template <int kShift>
class BReader {
 public:
  static constexpr std::size_t kSlack = kShift == 0 ? 0 : kL - kShift;
  BReader(const int* b, std::size_t i) : at_(b + i + kSlack) {
    const auto first = reinterpret_cast<std::uintptr_t>(at_) - sizeof(V);
    if constexpr (kShift != 0)
      lo_ = W::LoadFrom(reinterpret_cast<const int*>(first), kShift);  // NOLINT(performance-no-int-to-ptr): may lie before b
  }
  V Next() {
    at_ += kL;
    if constexpr (kShift == 0) return W::Load(at_ - kL);
    V hi = W::LoadAligned(at_ - kL);
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
// Op::Run<s> for shifts s of 0 to kLanes, kLanes (b unaligned) running Run<0>.
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
// out op= b over [i, n), out + i on a register boundary, four registers per
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
template <class Op>
constexpr auto kInPlaceAt = ShiftTable<InPlaceKernel, InPlaceAt<Op>>(kShifts);
template <class Op>
void InPlace(int* out, const int* b, std::size_t n) {
  if (n < 2 * kL) return W::template Part<Op>(out, b, n);
  const auto& at = kInPlaceAt<Op>;
  at[LW::Shift(b + LW::Head(out, n))](out, b, n);
}
// Each partial result starts as Of(fill, fill), then takes With(itself,
// Of(x, y)) for each register x of a and y of b, fill in a partial one's
// missing lanes. The sum passes a as b.
template <bool kDot>
struct WideSums {
  static V Fill(const int*) { return W::Zero(); }
  static V Of(V x, V y) { return kDot ? W::Do(MulOp{}, x, y) : y; }
  static V With(V s, V t) { return W::Do(AddOp{}, s, t); }
};
// Each element or its magnitude (kAbs); the fill, a[0], is in the answer.
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
template <bool kJoin>
constexpr auto kDotAt =
    ShiftTable<DotKernel, ReduceAt<WideSums<true>>>(kShifts);
// b joined where the level's kJoinDot says so; a after its head is on a
// boundary, so the other reductions run the unjoined loop.
template <bool kJoin>
int Dot(const int* a, const int* b, std::size_t n) {
  if constexpr (kJoin) {
    const auto& at = kDotAt<kJoin>;
    if (n >= 2 * kL) return at[LW::Shift(b + LW::Head(a, n))](a, b, n);
  }
  return ReduceAt<WideSums<true>>::Run<0>(a, b, n);
}
template <class R>
int Reduce(const int* a, std::size_t n) {
  return ReduceAt<R>::template Run<0>(a, a, n);
}
// Four registers per step, their masks joined into one word, then one.
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
// The compiler's loops, these in their place.
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
