// SPDX-License-Identifier: MIT
// Reductions, statistics and fills of QmMathLA::vector<int>, and the
// reduction kernels behind them at every instruction-set level.

#include <climits>
#include <random>
#include <vector>

#include "mathla/kernels.h"
#include "mathla/vector.h"

#include "gtest/gtest.h"
#include "vector_support.h"

namespace {

TEST(VectorReduce, EmptyVector) {
  Vec v;
  EXPECT_EQ(v.sum(), 0);
  EXPECT_EQ(v.sumsq(), 0);
  EXPECT_EQ(v.norm(), 0);
  EXPECT_EQ(v.rms(), 0);
  int index = 5;
  EXPECT_EQ(v.maxabs(index), 0);
  EXPECT_EQ(index, 0);
  index = 5;
  EXPECT_EQ(v.maximum(index), 0);
  EXPECT_EQ(index, 0);
  index = 5;
  EXPECT_EQ(v.minimum(index), 0);
  EXPECT_EQ(index, 0);
  v.constant(3);
  v.zero();
  v.detrend();
  EXPECT_EQ(v.elems(), 0);
}

TEST(VectorReduce, SumsAndRoots) {
  Vec v = Make({3, 4});
  EXPECT_EQ(v.sum(), 7);
  EXPECT_EQ(v.sumsq(), 25);
  EXPECT_EQ(v.norm(), 5);
  EXPECT_EQ(v.rms(), 3);  // 25 / 2 = 12 first, then the root
  EXPECT_EQ(Make({1, 1}).norm(), 1);
  EXPECT_EQ(Make({INT_MAX, 1}).sum(), INT_MIN);

  Vec wrapped = Make({50000});  // 2500000000 wraps negative
  EXPECT_EQ(wrapped.sumsq(), static_cast<int>(2500000000u));
  EXPECT_EQ(wrapped.norm(), INT_MIN);
  EXPECT_EQ(wrapped.rms(), INT_MIN);

  Vec zero = Make({65536});
  EXPECT_EQ(zero.sumsq(), 0);
  EXPECT_EQ(zero.norm(), 0);
  EXPECT_EQ(zero.rms(), 0);

  // Three squares of 40000 sum to 4.8e9, which wraps to a positive value.
  Vec positive = Make({40000, 40000, 40000});
  const int s = static_cast<int>(3u * 1600000000u);
  EXPECT_EQ(positive.sumsq(), s);
  EXPECT_EQ(positive.norm(), 22472);  // floor(sqrt(505032704))
  EXPECT_EQ(positive.rms(), 12974);   // floor(sqrt(168344234))
}

TEST(VectorReduce, ExtremesReportTheFirstPosition) {
  int index = -1;
  EXPECT_EQ(Make({5, 9, 9, 1}).maximum(index), 9);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Make({5, 1, 9, 1}).minimum(index), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Make({3, -7, 7}).maxabs(index), 7);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Make({3, 7, -7}).maxabs(index), 7);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Make({-4}).maxabs(index), 4);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Make({-4}).minimum(index), -4);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Make({INT_MIN}).maxabs(index), INT_MIN);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Make({INT_MIN, 0}).maxabs(index), 0);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(Make({INT_MIN, INT_MIN, 0, INT_MAX}).maxabs(index), INT_MAX);
  EXPECT_EQ(index, 3);

  // Long vectors, with the answer in different blocks and repeated later.
  for (int n : {17, 100, 4096, 4097, 9000, 20000}) {
    IntList raw(static_cast<std::size_t>(n), 0);
    for (int i = 0; i < n; ++i)
      raw[static_cast<std::size_t>(i)] = (i * 37) % 1000 - 500;
    const int pos = n - 5;
    raw[static_cast<std::size_t>(pos)] = 100000;
    raw[static_cast<std::size_t>(n - 1)] = 100000;
    raw[static_cast<std::size_t>(pos / 2)] = -200000;
    raw[static_cast<std::size_t>(n - 2)] = -200000;
    raw[static_cast<std::size_t>(n / 3)] = 200000;
    Vec v(n, raw.data(), 1);
    EXPECT_EQ(v.maximum(index), 200000);
    EXPECT_EQ(index, n / 3) << n;
    EXPECT_EQ(v.minimum(index), -200000);
    EXPECT_EQ(index, pos / 2) << n;
    EXPECT_EQ(v.maxabs(index), 200000);
    EXPECT_EQ(index, std::min(pos / 2, n / 3)) << n;
  }
}

TEST(VectorFill, FillsWriteTheSharedBlock) {
  Vec a = Make({1, 2, 3});
  Vec b(a);
  a.constant(5);
  EXPECT_EQ(Elements(b), (IntList{5, 5, 5}));
  b.zero();
  EXPECT_EQ(Elements(a), (IntList{0, 0, 0}));

  // Every element gets the value the argument had at the call.
  Vec c = Make({4, 8, 9});
  c.constant(c[1]);
  EXPECT_EQ(Elements(c), (IntList{8, 8, 8}));
  c.setIndex(2);
  c.zero();
  EXPECT_EQ(c.getIndex(), 2);
}

TEST(VectorFill, DetrendSubtractsTheTruncatedMean) {
  Vec a = Make({1, 2, 4});
  a.detrend();
  EXPECT_EQ(Elements(a), (IntList{-1, 0, 2}));
  Vec b = Make({-3, -4});
  b.detrend();
  EXPECT_EQ(Elements(b), (IntList{0, -1}));
  // A wrapped sum gives a wrapped mean, and the subtraction wraps too.
  Vec c = Make({INT_MAX, 1});
  c.detrend();  // sum INT_MIN, mean -1073741824
  EXPECT_EQ(Elements(c),
            (IntList{static_cast<int>(2147483647u + 1073741824u), 1073741825}));
}

// --- kernels at every level --------------------------------------------------

using qmdata::detail::Kernels;

int Mag(int v) { return v < 0 ? static_cast<int>(0u - U(v)) : v; }

TEST(ReduceKernels, EveryLevelMatchesThePlainLoop) {
  std::mt19937 gen(5);
  for (const Kernels* k : Levels()) {
    SCOPED_TRACE(k->name);
    for (std::size_t n = 0; n <= 70; ++n) {
      for (int range : {7, 0}) {  // small values with ties, or any int
        IntList buf(n + 3);
        for (int& x : buf) {
          x = range ? static_cast<int>(gen() % 15) - range
                    : static_cast<int>(gen());
        }
        if (n > 2 && range) buf[1 + n / 2] = INT_MIN;
        for (std::size_t off : {0, 1, 3}) {
          const int* a = buf.data() + off;
          unsigned sum = 0, sq = 0;
          for (std::size_t i = 0; i < n; ++i) {
            sum += U(a[i]);
            sq += U(a[i]) * U(a[i]);
          }
          ASSERT_EQ(k->sum(a, n), static_cast<int>(sum)) << n;
          ASSERT_EQ(k->sumsq(a, n), static_cast<int>(sq)) << n;
          if (n == 0) continue;
          int mx = a[0], mn = a[0], ma = Mag(a[0]);
          for (std::size_t i = 1; i < n; ++i) {
            mx = std::max(mx, a[i]);
            mn = std::min(mn, a[i]);
            ma = std::max(ma, Mag(a[i]));
          }
          ASSERT_EQ(k->max(a, n), mx) << n;
          ASSERT_EQ(k->min(a, n), mn) << n;
          ASSERT_EQ(k->maxabs(a, n), ma) << n;
          std::size_t first = 0, first_abs = 0;
          while (a[first] != mn) ++first;
          while (Mag(a[first_abs]) != ma) ++first_abs;
          ASSERT_EQ(k->find_eq(a, n, mn), first) << n;
          ASSERT_EQ(k->find_abs(a, n, ma), first_abs) << n;
          ASSERT_EQ(k->find_eq(a, n - 1, a[n - 1]) <= n - 1, true);
          ASSERT_EQ(k->find_eq(a, n, 123456789), n);
        }
      }
    }
  }
}

}  // namespace
