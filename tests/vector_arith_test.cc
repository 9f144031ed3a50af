// SPDX-License-Identifier: MIT
// Element-wise arithmetic, products and comparison of QmMathLA::vector<int>,
// and the element kernels behind them at every instruction-set level.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "mathla/kernels.h"
#include "mathla/vector.h"

#include "gtest/gtest.h"
#include "vector_support.h"

namespace {

using QmMathLA::matrix;
using QmMathLA::rowcol;

TEST(VectorArith, CommonLengthAndValueForms) {
  Vec a = Make({1, 2, 3});
  Vec b = Make({10, 20});
  EXPECT_EQ(Elements(a + b), (IntList{11, 22, 3}));
  EXPECT_EQ(Elements(b + a), (IntList{11, 22}));
  EXPECT_EQ(Elements(a - b), (IntList{-9, -18, 3}));
  EXPECT_EQ(Elements(a ^ b), (IntList{10, 40, 3}));
  EXPECT_EQ(Elements(a), (IntList{1, 2, 3}));
  EXPECT_EQ(Elements(b), (IntList{10, 20}));

  Vec c(a, 1);
  c += b;
  EXPECT_EQ(Elements(c), (IntList{11, 22, 3}));
  c -= b;
  EXPECT_EQ(Elements(c), (IntList{1, 2, 3}));
  c ^= b;
  EXPECT_EQ(Elements(c), (IntList{10, 40, 3}));

  Vec empty;
  EXPECT_TRUE(AllFieldsZero(empty + a));
  EXPECT_TRUE(AllFieldsZero(empty * 3));
  EXPECT_TRUE(AllFieldsZero(empty ^ a));
  EXPECT_EQ(Elements(a + empty), (IntList{1, 2, 3}));
  empty += a;
  EXPECT_TRUE(AllFieldsZero(empty));
}

TEST(VectorArith, WrapsAround) {
  Vec a = Make({INT_MAX, INT_MIN, 65536, -1});
  Vec b = Make({1, -1, 65536, INT_MIN});
  EXPECT_EQ(Elements(a + b), (IntList{INT_MIN, INT_MAX, 131072, INT_MAX}));
  EXPECT_EQ(Elements(a - b), (IntList{INT_MAX - 1, INT_MIN + 1, 0, INT_MAX}));
  EXPECT_EQ(Elements(a ^ b), (IntList{INT_MAX, INT_MIN, 0, INT_MIN}));
  EXPECT_EQ(Elements(a * 2), (IntList{-2, 0, 131072, -2}));
  EXPECT_EQ(Elements(a * -1), (IntList{-INT_MAX, INT_MIN, -65536, 1}));
}

TEST(VectorArith, CompoundWritesTheSharedBlockValueFormsNever) {
  Vec a = Make({1, 2, 3});
  Vec b(a);  // shares a's block
  Vec c = Make({10, 20, 30});

  Vec sum = a + c;
  EXPECT_NE(FieldsOf(sum).data, FieldsOf(a).data);
  EXPECT_NE(FieldsOf(sum).data, FieldsOf(c).data);
  EXPECT_EQ(SharedCount(sum), 1);
  EXPECT_EQ(sum.getIndex(), 0);
  EXPECT_EQ(Elements(b), (IntList{1, 2, 3}));

  a.setIndex(2);
  a += c;
  EXPECT_EQ(Elements(b), (IntList{11, 22, 33}));
  EXPECT_EQ(a.getIndex(), 2);  // the cursor is not touched
  EXPECT_EQ(SharedCount(a), 2);

  Vec scaled = b * 2;
  EXPECT_EQ(SharedCount(scaled), 1);
  EXPECT_EQ(Elements(a), (IntList{11, 22, 33}));

  // An adopted array is written in place.
  int raw[] = {1, 2, 3};
  Vec adopted(3, raw, 1);
  adopted *= 3;
  EXPECT_EQ(raw[2], 9);
  Vec copy = adopted + c;
  EXPECT_NE(FieldsOf(copy).data, raw);
  EXPECT_EQ(raw[0], 3);
}

TEST(VectorArith, OverlappingOperandsGoOneElementAtATime) {
  // The same vector: doubling, squaring, zeroing.
  Vec v =
      Make({1, -2, 3, 40000, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17});
  Vec w(v);
  v += w;
  EXPECT_EQ(v[3], 80000);
  EXPECT_EQ(v[16], 34);
  v ^= v;
  EXPECT_EQ(v[1], 16);
  EXPECT_EQ(v[3], static_cast<int>(80000u * 80000u));
  v -= w;
  EXPECT_EQ(Elements(v), IntList(17, 0));

  // Overlapping adopted arrays: a running sum, at lengths that would take a
  // vector path.
  for (int n : {4, 17, 40, 100}) {
    std::vector<int> raw(static_cast<std::size_t>(n), 1);
    Vec x(n - 1, raw.data() + 1, 1);
    Vec y(n - 1, raw.data(), 1);
    x += y;
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(raw[static_cast<std::size_t>(i)], i + 1) << n;
    // The right operand after the left: each step reads an element not yet
    // written, so it is an ordinary element-wise step.
    std::vector<int> raw2(static_cast<std::size_t>(n), 1);
    Vec lo(n - 1, raw2.data(), 1);
    Vec hi(n - 1, raw2.data() + 1, 1);
    lo += hi;
    for (int i = 0; i + 1 < n; ++i)
      ASSERT_EQ(raw2[static_cast<std::size_t>(i)], 2);
  }
  // The overlapping view form turns into the same running product.
  std::vector<int> raw(20, 2);
  Vec x(19, raw.data() + 1, 1);
  x ^= rowcol<int>{1, 19, raw.data()};
  EXPECT_EQ(raw[5], 64);
}

TEST(VectorArith, ScalingByOwnElement) {
  Vec v = Make({1, 2, 3, 4});
  Vec r = v * v[2];
  EXPECT_EQ(Elements(r), (IntList{3, 6, 9, 12}));
  EXPECT_EQ(Elements(v), (IntList{1, 2, 3, 4}));
  v *= v[2];
  EXPECT_EQ(Elements(v), (IntList{3, 6, 9, 36}));

  // Long enough for the vector path, the factor in the middle.
  std::vector<int> raw(50);
  for (int i = 0; i < 50; ++i) raw[static_cast<std::size_t>(i)] = i;
  Vec big(50, raw.data(), 1);
  big *= raw[20];
  EXPECT_EQ(raw[19], 19 * 20);
  EXPECT_EQ(raw[20], 400);
  EXPECT_EQ(raw[21], 21 * 400);
  EXPECT_EQ(raw[49], 49 * 400);
}

TEST(VectorArith, DivisionMultipliesByTheReciprocal) {
  Vec v = Make({7, -7, 9, INT_MIN});
  EXPECT_EQ(Elements(v / 1), (IntList{7, -7, 9, INT_MIN}));
  EXPECT_EQ(Elements(v / -1), (IntList{-7, 7, -9, INT_MIN}));
  EXPECT_EQ(Elements(v / 2), (IntList{0, 0, 0, 0}));
  EXPECT_EQ(Elements(v / -3), (IntList{0, 0, 0, 0}));
  Vec w(v, 1);
  w /= -1;
  EXPECT_EQ(Elements(w), (IntList{-7, 7, -9, INT_MIN}));
  // The divisor is read once, before any element changes.
  w /= w[0];
  EXPECT_EQ(Elements(w), IntList(4, 0));

  Vec empty;
  EXPECT_THROW(empty /= 0, std::domain_error);
  EXPECT_THROW(static_cast<void>(empty / 0), std::domain_error);
  EXPECT_THROW(v /= 0, std::domain_error);
  EXPECT_EQ(Elements(v), (IntList{7, -7, 9, INT_MIN}));
}

TEST(VectorArith, Views) {
  const int data[] = {1, 2, 3, 4, 5, 6};
  Vec v = Make({10, 20, 30});
  EXPECT_EQ(Elements(v + rowcol<int>{0, 3, data + 1}), (IntList{12, 22, 32}));
  EXPECT_EQ(Elements(v + rowcol<int>{-1, 3, data + 5}), (IntList{16, 25, 34}));
  EXPECT_EQ(Elements(v - rowcol<int>{2, 2, data}), (IntList{9, 17, 30}));
  EXPECT_EQ(Elements(v ^ rowcol<int>{1, 5, data}), (IntList{10, 40, 90}));
  EXPECT_EQ(Elements(v + rowcol<int>{1, 0, data}), (IntList{10, 20, 30}));
  v += rowcol<int>{-2, 3, data + 4};
  EXPECT_EQ(Elements(v), (IntList{15, 23, 31}));
  EXPECT_EQ(v * (rowcol<int>{0, 3, data}), 15 + 23 + 31);
  EXPECT_EQ(v * (rowcol<int>{-1, 2, data + 1}), 15 * 2 + 23 * 1);
  EXPECT_EQ(v * (rowcol<int>{1, 6, data}), 15 + 46 + 93);

  // A stride-0 view over an element of the vector itself: every step reads
  // the (possibly new) element 0.
  std::vector<int> raw(20, 1);
  Vec self(20, raw.data(), 1);
  self += rowcol<int>{0, 20, raw.data()};
  EXPECT_EQ(raw[0], 2);
  EXPECT_EQ(raw[19], 3);
}

TEST(VectorArith, DotProduct) {
  Vec a = Make({1, 2, 3});
  Vec b = Make({4, 5});
  EXPECT_EQ(a * b, 14);
  EXPECT_EQ(b * a, 14);
  Vec big = Make({65536});
  EXPECT_EQ(big * big, 0);
  Vec empty;
  EXPECT_EQ(empty * a, 0);
  EXPECT_EQ(a * empty, 0);
  EXPECT_EQ(a * a, 14);
}

TEST(VectorArith, MatrixProduct) {
  const int data[] = {1, 2, 3, 4, 5, 6};
  Vec v = Make({1, 2});
  Vec plain = v * matrix<int>{2, 3, 0, data};
  EXPECT_EQ(Elements(plain), (IntList{9, 12, 15}));
  EXPECT_EQ(SharedCount(plain), 1);
  EXPECT_EQ(Elements(v * matrix<int>{3, 2, 1, data}), (IntList{5, 11, 17}));

  // A longer vector uses only K elements; a shorter one only its own rows.
  Vec longer = Make({1, 2, 100});
  EXPECT_EQ(Elements(longer * matrix<int>{2, 3, 0, data}),
            (IntList{9, 12, 15}));
  Vec one = Make({2});
  EXPECT_EQ(Elements(one * matrix<int>{2, 3, 0, data}), (IntList{2, 4, 6}));
  EXPECT_EQ(Elements(one * matrix<int>{3, 2, 1, data}), (IntList{2, 6, 10}));

  Vec empty;
  EXPECT_EQ(Elements(empty * matrix<int>{2, 3, 0, data}), (IntList{0, 0, 0}));
  EXPECT_TRUE(AllFieldsZero(v * matrix<int>{2, 0, 0, data}));
  EXPECT_TRUE(AllFieldsZero(v * matrix<int>{-1, 3, 1, data}));
  EXPECT_THROW(static_cast<void>(v * matrix<int>{1, 0x40000000, 0, data}),
               std::bad_array_new_length);
}

TEST(VectorArith, LargeMatrixMatchesPlainLoops) {
  std::mt19937 gen(7);
  for (int rows : {1, 5, 37}) {
    for (int cols : {1, 3, 19, 33}) {
      std::vector<int> data(static_cast<std::size_t>(rows * cols));
      for (int& x : data) x = static_cast<int>(gen());
      for (int trans : {0, 1}) {
        const int k = trans ? cols : rows;
        const int n = trans ? rows : cols;
        for (int len : {k - 1, k, k + 2}) {
          if (len <= 0) continue;
          std::vector<int> raw(static_cast<std::size_t>(len));
          for (int& x : raw) x = static_cast<int>(gen());
          Vec v(len, raw.data(), 0);
          Vec r = v * matrix<int>{rows, cols, trans, data.data()};
          ASSERT_EQ(r.elems(), n);
          for (int j = 0; j < n; ++j) {
            unsigned s = 0;
            for (int i = 0; i < std::min(len, k); ++i) {
              const int a = trans
                                ? data[static_cast<std::size_t>(j * cols + i)]
                                : data[static_cast<std::size_t>(i * cols + j)];
              s += static_cast<unsigned>(raw[static_cast<std::size_t>(i)]) *
                   static_cast<unsigned>(a);
            }
            ASSERT_EQ(r[j], static_cast<int>(s))
                << rows << "x" << cols << " trans " << trans << " len " << len;
          }
        }
      }
    }
  }
}

TEST(VectorCompare, ExactAndWithTolerance) {
  Vec a = Make({1, 2});
  Vec b = Make({1, 2, 3});
  Vec c = Make({1, 2});
  Vec d = Make({1, 3});
  EXPECT_EQ(a == b, 0);
  EXPECT_EQ(a != b, 1);
  EXPECT_EQ(a == c, 1);
  EXPECT_EQ(a != c, 0);
  EXPECT_EQ(a == d, 0);
  EXPECT_TRUE(a.equals(c));
  EXPECT_FALSE(a.equals(d));
  EXPECT_FALSE(a.equals(b));

  Vec e1, e2;
  EXPECT_EQ(e1 == e2, 1);
  EXPECT_EQ(e1 != e2, 0);
  EXPECT_TRUE(e1.equals(e2));
  EXPECT_TRUE(e1.equals(e2, -1));

  EXPECT_TRUE(a.equals(c, 0));
  EXPECT_FALSE(a.equals(d, 0));
  EXPECT_FALSE(a.equals(c, -1));
  EXPECT_TRUE(a.equals(d, 1));
  EXPECT_FALSE(a.equals(d, 0.5));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(a.equals(d, nan));
  EXPECT_FALSE(a.equals(b, nan));

  Vec hi = Make({INT_MAX});
  Vec lo = Make({INT_MIN});
  EXPECT_TRUE(hi.equals(lo, 1));
  EXPECT_FALSE(hi.equals(lo, 0.5));
  EXPECT_EQ(hi == lo, 0);
}

// --- kernels at every level --------------------------------------------------

using qmdata::detail::Isa;
using qmdata::detail::Kernels;

// Random values, half of them small and half anywhere in the int range, in a
// buffer with room for misaligned starts.
std::vector<int> RandomInts(std::mt19937& gen, std::size_t n) {
  std::vector<int> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned r = gen();
    v[i] = (i % 2) ? static_cast<int>(r) : static_cast<int>(r % 201) - 100;
  }
  return v;
}

TEST(ArithKernels, EveryLevelMatchesThePlainLoop) {
  ASSERT_NE(qmdata::detail::KernelsFor(Isa::kBaseline), nullptr);
  std::mt19937 gen(42);
  for (const Kernels* k : Levels()) {
    SCOPED_TRACE(k->name);
    // Up to 140: a head up to the next 64-byte boundary, blocks of four
    // 16-lane registers and a remainder all occur. b starts at each of 16
    // lanes into its block, and ends where its allocation does, so that a
    // read past it is a sanitizer's error.
    for (std::size_t n = 0; n <= 140; ++n) {
      for (std::size_t off : {0, 1, 3}) {
        for (std::size_t bo = 0; bo < 16; ++bo) {
          const std::vector<int> a = RandomInts(gen, n + 4);
          const std::vector<int> b = RandomInts(gen, n + bo);
          const int* pa = a.data() + off;
          const int* pb = b.data() + bo;
          std::vector<int> add(n + 4, 7), sub(n + 4, 7), mul(n + 4, 7),
              scl(n + 4, 7);
          k->add(add.data() + off, pa, pb, n);
          k->sub(sub.data() + off, pa, pb, n);
          k->mul(mul.data() + off, pa, pb, n);
          const int f = static_cast<int>(gen());
          k->scale(scl.data() + off, pa, f, n);
          unsigned dot = 0;
          for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(add[off + i], static_cast<int>(U(pa[i]) + U(pb[i]))) << n;
            ASSERT_EQ(sub[off + i], static_cast<int>(U(pa[i]) - U(pb[i]))) << n;
            ASSERT_EQ(mul[off + i], static_cast<int>(U(pa[i]) * U(pb[i]))) << n;
            ASSERT_EQ(scl[off + i], static_cast<int>(U(pa[i]) * U(f))) << n;
            dot += U(pa[i]) * U(pb[i]);
          }
          // Nothing outside the range is written.
          for (std::size_t i = 0; i < off; ++i) ASSERT_EQ(add[i], 7);
          for (std::size_t i = off + n; i < n + 4; ++i) {
            ASSERT_EQ(add[i], 7);
            ASSERT_EQ(scl[i], 7);
          }
          ASSERT_EQ(k->dot(pa, pb, n), static_cast<int>(dot)) << n;

          // In place, the other operand apart: the compound forms' path.
          std::vector<int> in(n + 4);
          std::copy(pa, pa + n, in.begin() + off);
          int* po = in.data() + off;
          k->add_to(po, pb, n);
          k->sub_from(po, pb, n);  // back to a
          k->sub(po, po, pb, n);   // a - b, the binary form in place
          k->add_to(po, pb, n);    // back to a
          k->mul_by(po, pb, n);
          for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(po[i], mul[off + i]) << n;

          // In place, and with both operands the output itself.
          std::vector<int> self(pa, pa + n);
          k->add(self.data(), self.data(), self.data(), n);
          for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(self[i], static_cast<int>(U(pa[i]) * 2u));
          }
        }
      }
    }
  }
}

TEST(ArithKernels, QmdataIsaCapsTheLevel) {
  using qmdata::detail::ChooseUpTo;
  using qmdata::detail::KernelsFor;
  const Kernels* best = Levels().back();
  EXPECT_EQ(ChooseUpTo(nullptr), best);
  EXPECT_EQ(ChooseUpTo("sse9"), best);  // unknown: no limit
  EXPECT_EQ(ChooseUpTo("baseline"), KernelsFor(Isa::kBaseline));
  const Kernels* avx2 = KernelsFor(Isa::kAvx2);
  EXPECT_EQ(ChooseUpTo("avx2"), avx2 ? avx2 : KernelsFor(Isa::kBaseline));
}

TEST(ArithKernels, MatrixKernelsMatchThePlainLoop) {
  std::mt19937 gen(9);
  for (const Kernels* k : Levels()) {
    SCOPED_TRACE(k->name);
    for (std::size_t rows : {0, 1, 3, 4, 9, 17}) {
      for (std::size_t cols : {1, 5, 16, 23, 40}) {
        const std::vector<int> a = RandomInts(gen, rows * cols + 1);
        const std::vector<int> v = RandomInts(gen, rows + cols + 1);
        const int* pa = a.data() + 1;  // misaligned
        const int* pv = v.data() + 1;
        std::vector<int> out(cols + 1, 7);
        k->vecmat(out.data(), pv, pa, static_cast<std::ptrdiff_t>(cols), rows,
                  cols);
        for (std::size_t j = 0; j < cols; ++j) {
          unsigned s = 0;
          for (std::size_t i = 0; i < rows; ++i)
            s += U(pv[i]) * U(pa[i * cols + j]);
          ASSERT_EQ(out[j], static_cast<int>(s)) << rows << "x" << cols;
        }
        ASSERT_EQ(out[cols], 7);
        std::vector<int> outt(rows + 1, 7);
        k->vecmat_t(outt.data(), pv, pa, static_cast<std::ptrdiff_t>(cols),
                    cols, rows);
        for (std::size_t j = 0; j < rows; ++j) {
          unsigned s = 0;
          for (std::size_t i = 0; i < cols; ++i)
            s += U(pv[i]) * U(pa[j * cols + i]);
          ASSERT_EQ(outt[j], static_cast<int>(s)) << rows << "x" << cols;
        }
        ASSERT_EQ(outt[rows], 7);
      }
    }
  }
}

}  // namespace
