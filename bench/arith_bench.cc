// SPDX-License-Identifier: MIT
// Vector arithmetic and reductions against their peers, in one program:
//   Ours      QmMathLA::vector<int>
//   Plain     plain loops over std::vector<int> at the library's flags
//   Valarray  std::valarray<int>
//   Eigen     Eigen::VectorXi / row-major MatrixXi (when installed)
//   Native    the plain loops built with -O3 -march=native
// Sizes are 1 Ki, 64 Ki, 1 Mi and 16 Mi ints; the matrix is 1024 x 1024.
//
// A peer is one struct: its vector type V, Adopt to make one from the
// benchmark's std::vector data, Strided and Matrix for the views, and one
// static member per operation. Each family of operations is one template over
// the peer, and RegisterPeers names every instance BM_<Op><Peer>, as in
// BM_AddVec<Ours>/1024.

#include <cstddef>
#include <random>
#include <string>
#include <valarray>
#include <vector>

#include <benchmark/benchmark.h>

#include "mathla/vector.h"

#include "arith_peer.h"

#if QMDATA_BENCH_EIGEN
#include <Eigen/Core>
#endif

namespace {

constexpr int kDim = 1024;

// Our vectors adopt these same arrays (adopt flag 1), so ours and the plain
// loops work on identically placed memory: the relative placement of two
// arrays decides 4 KiB aliasing and which loads split a cache line, which
// the timings of the smaller sizes follow.
//
// Values 0..99: no peer's plain int loop overflows within a run.
std::vector<int> Data(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<int> v(n);
  for (int& x : v) x = static_cast<int>(gen() % 100);
  return v;
}

std::size_t Size(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0));
}

void Count(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

int Opaque(int v) {
  benchmark::DoNotOptimize(v);
  return v;
}

// --- peers -------------------------------------------------------------------

struct Ours {
  static constexpr const char* kName = "Ours";
  using V = QmMathLA::vector<int>;
  static V Adopt(std::vector<int>& e) {
    return V(static_cast<int>(e.size()), e.data(), 1);
  }
  static QmMathLA::rowcol<int> Strided(V& b, int stride) {
    return {stride, b.elems(), &b[0]};
  }
  static QmMathLA::matrix<int> Matrix(std::vector<int>& m, int trans) {
    return {kDim, kDim, trans, m.data()};
  }
  static void AddVec(V& a, V& b) { a += b; }
  static void AddView(V& a, const QmMathLA::rowcol<int>& b) { a += b; }
  static void AddValue(V& a, V& b) {
    V c = a + b;
    benchmark::DoNotOptimize(c[0]);
  }
  static void MulVec(V& a, V& b) { a ^= b; }
  static void Scale(V& a, const int& f) { a *= f; }
  static int Dot(V& a, V& b) { return a * b; }
  static int Sum(V& a) { return a.sum(); }
  static int SumSq(V& a) { return a.sumsq(); }
  static int Max(V& a, int& index) { return a.maximum(index); }
  static void VecMat(V& v, const QmMathLA::matrix<int>& m) {
    V r = v * m;
    benchmark::DoNotOptimize(r[0]);
  }
};

// Plain and Native: the loops of arith_peer.h on the benchmark's std::vector
// itself (read through it in every iteration, as a loop over it would), the
// views described as ours are.
template <LoopBuild B>
struct Loop {
  static constexpr const char* kName = B == kPlain ? "Plain" : "Native";
  using L = Loops<B>;
  using V = std::vector<int>*;
  static V Adopt(std::vector<int>& e) { return &e; }
  static QmMathLA::rowcol<int> Strided(V& b, int stride) {
    return {stride, static_cast<int>(b->size()), b->data()};
  }
  static QmMathLA::matrix<int> Matrix(std::vector<int>& m, int trans) {
    return {kDim, kDim, trans, m.data()};
  }
  static void AddVec(V& a, V& b) {
    L::AddInPlace(a->data(), b->data(), a->size());
  }
  static void AddView(V& a, const QmMathLA::rowcol<int>& b) {
    L::AddStrided(a->data(), b.m_data, b.m_stride, a->size());
  }
  static void AddValue(V& a, V& b) {
    std::vector<int> c(a->size());
    L::AddInto(c.data(), a->data(), b->data(), a->size());
    benchmark::DoNotOptimize(c.data());
  }
  static void MulVec(V& a, V& b) {
    L::MulInPlace(a->data(), b->data(), a->size());
  }
  static void Scale(V& a, int f) { L::Scale(a->data(), f, a->size()); }
  static int Dot(V& a, V& b) { return L::Dot(a->data(), b->data(), a->size()); }
  static int Sum(V& a) { return L::Sum(a->data(), a->size()); }
  static int SumSq(V& a) { return L::SumSq(a->data(), a->size()); }
  static int Max(V& a, int& i) { return L::Maximum(a->data(), a->size(), i); }
  static void VecMat(V& v, const QmMathLA::matrix<int>& m) {
    std::vector<int> r(kDim);
    if (m.m_trans) {
      L::VecMatT(r.data(), v->data(), m.m_data, kDim, kDim);
    } else {
      L::VecMat(r.data(), v->data(), m.m_data, kDim, kDim);
    }
    benchmark::DoNotOptimize(r.data());
  }
};
using Plain = Loop<kPlain>;
using Native = Loop<kNative>;

struct Valarray {
  static constexpr const char* kName = "Valarray";
  using V = std::valarray<int>;
  struct Mat {
    V m;
    int trans;
  };
  static V Adopt(std::vector<int>& e) { return V(e.data(), e.size()); }
  static std::slice_array<int> Strided(V& b, int stride) {
    return b[std::slice(0, b.size(), static_cast<std::size_t>(stride))];
  }
  static Mat Matrix(std::vector<int>& m, int trans) {
    return {Adopt(m), trans};
  }
  static void AddVec(V& a, V& b) { a += b; }
  static void AddView(V& a, const std::slice_array<int>& b) { a += b; }
  static void AddValue(V& a, V& b) {
    V c = a + b;
    benchmark::DoNotOptimize(&c[0]);
  }
  static void MulVec(V& a, V& b) { a *= b; }
  static void Scale(V& a, const int& f) { a *= f; }
  static int Dot(V& a, V& b) { return (a * b).sum(); }
  static int Sum(V& a) { return a.sum(); }
  static int SumSq(V& a) { return (a * a).sum(); }
  static int Max(V& a, int& index) {
    const int best = a.max();
    index = 0;
    while (a[static_cast<std::size_t>(index)] != best) ++index;
    return best;
  }
  static void VecMat(V& v, const Mat& m) {
    V r(kDim);
    for (std::size_t j = 0; j < kDim; ++j) {
      // Column j of the matrix, or row j when it is read transposed.
      const std::slice s =
          m.trans ? std::slice(j * kDim, kDim, 1) : std::slice(j, kDim, kDim);
      r[j] = (v * V(m.m[s])).sum();
    }
    benchmark::DoNotOptimize(&r[0]);
  }
};

#if QMDATA_BENCH_EIGEN
struct EigenPeer {
  static constexpr const char* kName = "Eigen";
  using V = Eigen::VectorXi;
  using View = Eigen::Map<const V, 0, Eigen::InnerStride<>>;
  using M = Eigen::Matrix<int, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
  struct Mat {
    M m;
    int trans;
  };
  static V Adopt(std::vector<int>& e) {
    return Eigen::Map<const V>(e.data(), static_cast<Eigen::Index>(e.size()));
  }
  static View Strided(V& b, int stride) {
    return View(b.data(), b.size(), Eigen::InnerStride<>(stride));
  }
  static Mat Matrix(std::vector<int>& m, int trans) {
    return {Eigen::Map<const M>(m.data(), kDim, kDim), trans};
  }
  static void AddVec(V& a, V& b) { a += b; }
  static void AddView(V& a, const View& b) { a += b; }
  static void AddValue(V& a, V& b) {
    V c = a + b;
    benchmark::DoNotOptimize(c.data());
  }
  static void MulVec(V& a, V& b) { a.array() *= b.array(); }
  static void Scale(V& a, const int& f) { a *= f; }
  static int Dot(V& a, V& b) { return a.dot(b); }
  static int Sum(V& a) { return a.sum(); }
  static int SumSq(V& a) { return a.squaredNorm(); }
  static int Max(V& a, int& index) {
    Eigen::Index at = 0;
    const int best = a.maxCoeff(&at);
    index = static_cast<int>(at);
    return best;
  }
  static void VecMat(V& v, const Mat& m) {
    Eigen::RowVectorXi r;
    if (m.trans) {
      r.noalias() = v.transpose() * m.m.transpose();
    } else {
      r.noalias() = v.transpose() * m.m;
    }
    benchmark::DoNotOptimize(r.data());
  }
};
#endif

// --- operation families ------------------------------------------------------

// x op= y in place, y from seed 2 or all ones (so that repeated products
// keep their values).
template <class P, void (*Op)(typename P::V&, typename P::V&), bool kOnes>
void BM_Update(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  auto b = kOnes ? std::vector<int>(Size(state), 1) : Data(Size(state), 2);
  auto x = P::Adopt(a), y = P::Adopt(b);
  for (auto _ : state) {
    Op(x, y);
    benchmark::ClobberMemory();
  }
  Count(state);
}

// x += a stride-1 view of y, the stride unknown to the compiler.
template <class P>
void BM_AddView(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  auto x = P::Adopt(a), y = P::Adopt(b);
  const auto view = P::Strided(y, Opaque(1));
  for (auto _ : state) {
    P::AddView(x, view);
    benchmark::ClobberMemory();
  }
  Count(state);
}

// x *= int
template <class P>
void BM_Scale(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  auto x = P::Adopt(a);
  const int f = Opaque(1);
  for (auto _ : state) {
    P::Scale(x, f);
    benchmark::ClobberMemory();
  }
  Count(state);
}

// Operations on x and y that make a new vector or a number.
template <class P>
void BM_AddValue(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  auto x = P::Adopt(a), y = P::Adopt(b);
  for (auto _ : state) P::AddValue(x, y);
  Count(state);
}

template <class P>
void BM_Dot(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  auto x = P::Adopt(a), y = P::Adopt(b);
  for (auto _ : state) benchmark::DoNotOptimize(P::Dot(x, y));
  Count(state);
}

// Reductions of x.
template <class P, int (*Op)(typename P::V&)>
void BM_Reduce(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  auto x = P::Adopt(a);
  for (auto _ : state) benchmark::DoNotOptimize(Op(x));
  Count(state);
}

// The maximum with its first position.
template <class P>
void BM_Max(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  auto x = P::Adopt(a);
  int index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(P::Max(x, index));
    benchmark::DoNotOptimize(index);
  }
  Count(state);
}

// A vector times the 1024 x 1024 matrix, or its transpose.
template <class P, int kTrans>
void BM_VecMat(benchmark::State& state) {
  auto m = Data(std::size_t{kDim} * kDim, 3), v = Data(kDim, 4);
  const auto a = P::Matrix(m, kTrans);
  auto x = P::Adopt(v);
  for (auto _ : state) P::VecMat(x, a);
  state.SetItemsProcessed(state.iterations() * kDim * kDim);
}

// --- registration ------------------------------------------------------------

void Sizes(benchmark::internal::Benchmark* b) {
  for (int n : {1 << 10, 1 << 16, 1 << 20, 1 << 24}) b->Arg(n);
}

template <class P>
benchmark::internal::Benchmark* Add(const char* op,
                                    void (*fn)(benchmark::State&)) {
  const std::string name = std::string("BM_") + op + "<" + P::kName + ">";
  return benchmark::RegisterBenchmark(name.c_str(), fn);
}

// Every operation for every peer, peers side by side.
template <class... P>
bool RegisterPeers() {
  (Add<P>("AddVec", BM_Update<P, P::AddVec, false>)->Apply(Sizes), ...);
  (Add<P>("AddView", BM_AddView<P>)->Apply(Sizes), ...);
  (Add<P>("AddValue", BM_AddValue<P>)->Apply(Sizes), ...);
  (Add<P>("MulVec", BM_Update<P, P::MulVec, true>)->Apply(Sizes), ...);
  (Add<P>("Scale", BM_Scale<P>)->Apply(Sizes), ...);
  (Add<P>("Dot", BM_Dot<P>)->Apply(Sizes), ...);
  (Add<P>("Sum", BM_Reduce<P, P::Sum>)->Apply(Sizes), ...);
  (Add<P>("Max", BM_Max<P>)->Apply(Sizes), ...);
  (Add<P>("SumSq", BM_Reduce<P, P::SumSq>)->Apply(Sizes), ...);
  (Add<P>("VecMat", BM_VecMat<P, 0>), ...);
  (Add<P>("VecMatT", BM_VecMat<P, 1>), ...);
  return true;
}

[[maybe_unused]] const bool kRegistered = RegisterPeers<Ours, Plain, Valarray,
#if QMDATA_BENCH_EIGEN
                                                        EigenPeer,
#endif
                                                        Native>();

}  // namespace

BENCHMARK_MAIN();
