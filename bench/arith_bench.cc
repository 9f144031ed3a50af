// Vector arithmetic and reductions against their peers, in one program:
//   Ours      QmMathLA::vector<int>
//   Plain     plain loops over std::vector<int> at the library's flags
//   Valarray  std::valarray<int>
//   Eigen     Eigen::VectorXi / row-major MatrixXi (when installed)
//   Native    the plain loops built with -O3 -march=native
// Sizes are 1 Ki, 64 Ki, 1 Mi and 16 Mi ints; the matrix is 1024 x 1024.
// Each benchmark's name is BM_<Op>_<Peer>/<size>.

#include <cstddef>
#include <random>
#include <valarray>
#include <vector>

#include <benchmark/benchmark.h>

#include "mathla/vector.h"

#if QMDATA_BENCH_EIGEN
#include <Eigen/Core>
#endif

#define QMDATA_PEER_DECLS                                                      \
  void AddInPlace(int* a, const int* b, std::size_t n);                        \
  void AddStrided(int* a, const int* b, std::ptrdiff_t stride, std::size_t n); \
  void AddInto(int* out, const int* a, const int* b, std::size_t n);           \
  void MulInPlace(int* a, const int* b, std::size_t n);                        \
  void Scale(int* a, int f, std::size_t n);                                    \
  int Dot(const int* a, const int* b, std::size_t n);                          \
  int Sum(const int* a, std::size_t n);                                        \
  int SumSq(const int* a, std::size_t n);                                      \
  int Maximum(const int* a, std::size_t n, int& index);                        \
  void VecMat(int* out, const int* v, const int* a, std::size_t rows,          \
              std::size_t cols);                                               \
  void VecMatT(int* out, const int* v, const int* a, std::size_t rows,         \
               std::size_t cols);

namespace plain {
QMDATA_PEER_DECLS
}
namespace native {
QMDATA_PEER_DECLS
}

namespace {

using Vec = QmMathLA::vector<int>;
constexpr int kDim = 1024;

// Our vectors adopt these same arrays (adopt flag 1), so ours and the plain
// loops work on identically placed memory: the relative placement of two
// arrays (4 KiB aliasing, cache-line splits) moves timings by tens of
// percent at the smaller sizes.
//
// Values 0..99: no peer's plain int loop overflows within a run.
std::vector<int> Data(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<int> v(n);
  for (int& x : v) x = static_cast<int>(gen() % 100);
  return v;
}

// Ones, so that repeated in-place products keep their values.
std::vector<int> Ones(std::size_t n) { return std::vector<int>(n, 1); }

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

// --- += vector ---------------------------------------------------------------

void BM_AddVec_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  Vec x(static_cast<int>(a.size()), a.data(), 1),
      y(static_cast<int>(b.size()), b.data(), 1);
  for (auto _ : state) {
    x += y;
    benchmark::ClobberMemory();
  }
  Count(state);
}

template <void (*F)(int*, const int*, std::size_t)>
void BM_AddVec_Loop(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const auto b = Data(Size(state), 2);
  for (auto _ : state) {
    F(a.data(), b.data(), a.size());
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_AddVec_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1), b0 = Data(Size(state), 2);
  std::valarray<int> a(a0.data(), a0.size()), b(b0.data(), b0.size());
  for (auto _ : state) {
    a += b;
    benchmark::ClobberMemory();
  }
  Count(state);
}

// --- += stride-1 view --------------------------------------------------------

void BM_AddView_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  Vec x(static_cast<int>(a.size()), a.data(), 1);
  const QmMathLA::rowcol<int> view{Opaque(1), static_cast<int>(b.size()),
                                   b.data()};
  for (auto _ : state) {
    x += view;
    benchmark::ClobberMemory();
  }
  Count(state);
}

template <void (*F)(int*, const int*, std::ptrdiff_t, std::size_t)>
void BM_AddView_Loop(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const auto b = Data(Size(state), 2);
  const std::ptrdiff_t stride = Opaque(1);
  for (auto _ : state) {
    F(a.data(), b.data(), stride, a.size());
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_AddView_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1), b0 = Data(Size(state), 2);
  std::valarray<int> a(a0.data(), a0.size()), b(b0.data(), b0.size());
  const std::slice view(0, b.size(), static_cast<std::size_t>(Opaque(1)));
  for (auto _ : state) {
    a += b[view];
    benchmark::ClobberMemory();
  }
  Count(state);
}

// --- value + -----------------------------------------------------------------

void BM_AddValue_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  Vec x(static_cast<int>(a.size()), a.data(), 1),
      y(static_cast<int>(b.size()), b.data(), 1);
  for (auto _ : state) {
    Vec z = x + y;
    benchmark::DoNotOptimize(z[0]);
  }
  Count(state);
}

template <void (*F)(int*, const int*, const int*, std::size_t)>
void BM_AddValue_Loop(benchmark::State& state) {
  const auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  for (auto _ : state) {
    std::vector<int> c(a.size());
    F(c.data(), a.data(), b.data(), a.size());
    benchmark::DoNotOptimize(c.data());
  }
  Count(state);
}

void BM_AddValue_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1), b0 = Data(Size(state), 2);
  const std::valarray<int> a(a0.data(), a0.size()), b(b0.data(), b0.size());
  for (auto _ : state) {
    std::valarray<int> c = a + b;
    benchmark::DoNotOptimize(&c[0]);
  }
  Count(state);
}

// --- ^= (element-wise product) -----------------------------------------------

void BM_MulVec_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Ones(Size(state));
  Vec x(static_cast<int>(a.size()), a.data(), 1),
      y(static_cast<int>(b.size()), b.data(), 1);
  for (auto _ : state) {
    x ^= y;
    benchmark::ClobberMemory();
  }
  Count(state);
}

template <void (*F)(int*, const int*, std::size_t)>
void BM_MulVec_Loop(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const auto b = Ones(Size(state));
  for (auto _ : state) {
    F(a.data(), b.data(), a.size());
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_MulVec_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1), b0 = Ones(Size(state));
  std::valarray<int> a(a0.data(), a0.size()), b(b0.data(), b0.size());
  for (auto _ : state) {
    a *= b;
    benchmark::ClobberMemory();
  }
  Count(state);
}

// --- *= int
// --------------------------------------------------------------------

void BM_Scale_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  Vec x(static_cast<int>(a.size()), a.data(), 1);
  const int f = Opaque(1);
  for (auto _ : state) {
    x *= f;
    benchmark::ClobberMemory();
  }
  Count(state);
}

template <void (*F)(int*, int, std::size_t)>
void BM_Scale_Loop(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const int f = Opaque(1);
  for (auto _ : state) {
    F(a.data(), f, a.size());
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_Scale_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1);
  std::valarray<int> a(a0.data(), a0.size());
  const int f = Opaque(1);
  for (auto _ : state) {
    a *= f;
    benchmark::ClobberMemory();
  }
  Count(state);
}

// --- dot product, sum, sum of squares
// -----------------------------------------

void BM_Dot_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  Vec x(static_cast<int>(a.size()), a.data(), 1),
      y(static_cast<int>(b.size()), b.data(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(x * y);
  Count(state);
}

template <int (*F)(const int*, const int*, std::size_t)>
void BM_Dot_Loop(benchmark::State& state) {
  const auto a = Data(Size(state), 1), b = Data(Size(state), 2);
  for (auto _ : state)
    benchmark::DoNotOptimize(F(a.data(), b.data(), a.size()));
  Count(state);
}

void BM_Dot_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1), b0 = Data(Size(state), 2);
  const std::valarray<int> a(a0.data(), a0.size()), b(b0.data(), b0.size());
  for (auto _ : state) benchmark::DoNotOptimize((a * b).sum());
  Count(state);
}

void BM_Sum_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const Vec x(static_cast<int>(a.size()), a.data(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(x.sum());
  Count(state);
}

template <int (*F)(const int*, std::size_t)>
void BM_Sum_Loop(benchmark::State& state) {
  const auto a = Data(Size(state), 1);
  for (auto _ : state) benchmark::DoNotOptimize(F(a.data(), a.size()));
  Count(state);
}

void BM_Sum_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1);
  const std::valarray<int> a(a0.data(), a0.size());
  for (auto _ : state) benchmark::DoNotOptimize(a.sum());
  Count(state);
}

void BM_SumSq_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const Vec x(static_cast<int>(a.size()), a.data(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(x.sumsq());
  Count(state);
}

void BM_SumSq_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1);
  const std::valarray<int> a(a0.data(), a0.size());
  for (auto _ : state) benchmark::DoNotOptimize((a * a).sum());
  Count(state);
}

// --- maximum with its first position
// ------------------------------------------

void BM_Max_Ours(benchmark::State& state) {
  auto a = Data(Size(state), 1);
  const Vec x(static_cast<int>(a.size()), a.data(), 1);
  int index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(x.maximum(index));
    benchmark::DoNotOptimize(index);
  }
  Count(state);
}

template <int (*F)(const int*, std::size_t, int&)>
void BM_Max_Loop(benchmark::State& state) {
  const auto a = Data(Size(state), 1);
  int index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(F(a.data(), a.size(), index));
    benchmark::DoNotOptimize(index);
  }
  Count(state);
}

void BM_Max_Valarray(benchmark::State& state) {
  const auto a0 = Data(Size(state), 1);
  const std::valarray<int> a(a0.data(), a0.size());
  for (auto _ : state) {
    const int best = a.max();
    int index = 0;
    while (a[static_cast<std::size_t>(index)] != best) ++index;
    benchmark::DoNotOptimize(best);
    benchmark::DoNotOptimize(index);
  }
  Count(state);
}

// --- vector times a 1024 x 1024 matrix, plain and transposed
// -------------------

template <int kTrans>
void BM_VecMat_Ours(benchmark::State& state) {
  auto m = Data(std::size_t{kDim} * kDim, 3), v = Data(kDim, 4);
  Vec x(kDim, v.data(), 1);
  const QmMathLA::matrix<int> a{kDim, kDim, kTrans, m.data()};
  for (auto _ : state) {
    Vec r = x * a;
    benchmark::DoNotOptimize(r[0]);
  }
  state.SetItemsProcessed(state.iterations() * kDim * kDim);
}

template <void (*F)(int*, const int*, const int*, std::size_t, std::size_t)>
void BM_VecMat_Loop(benchmark::State& state) {
  const auto m = Data(std::size_t{kDim} * kDim, 3), v = Data(kDim, 4);
  for (auto _ : state) {
    std::vector<int> r(kDim);
    F(r.data(), v.data(), m.data(), kDim, kDim);
    benchmark::DoNotOptimize(r.data());
  }
  state.SetItemsProcessed(state.iterations() * kDim * kDim);
}

template <int kTrans>
void BM_VecMat_Valarray(benchmark::State& state) {
  const auto m0 = Data(std::size_t{kDim} * kDim, 3), v0 = Data(kDim, 4);
  const std::valarray<int> m(m0.data(), m0.size()), v(v0.data(), v0.size());
  for (auto _ : state) {
    std::valarray<int> r(kDim);
    for (std::size_t j = 0; j < kDim; ++j) {
      // Column j of the matrix, or row j when it is read transposed.
      const std::slice s =
          kTrans ? std::slice(j * kDim, kDim, 1) : std::slice(j, kDim, kDim);
      r[j] = (v * std::valarray<int>(m[s])).sum();
    }
    benchmark::DoNotOptimize(&r[0]);
  }
  state.SetItemsProcessed(state.iterations() * kDim * kDim);
}

#if QMDATA_BENCH_EIGEN

using EVec = Eigen::VectorXi;
using EMat =
    Eigen::Matrix<int, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

EVec EData(std::size_t n, unsigned seed) {
  const auto v = Data(n, seed);
  return Eigen::Map<const EVec>(v.data(), static_cast<Eigen::Index>(n));
}

void BM_AddVec_Eigen(benchmark::State& state) {
  EVec a = EData(Size(state), 1);
  const EVec b = EData(Size(state), 2);
  for (auto _ : state) {
    a += b;
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_AddView_Eigen(benchmark::State& state) {
  EVec a = EData(Size(state), 1);
  const EVec b = EData(Size(state), 2);
  const Eigen::Map<const EVec, 0, Eigen::InnerStride<>> view(
      b.data(), b.size(), Eigen::InnerStride<>(Opaque(1)));
  for (auto _ : state) {
    a += view;
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_AddValue_Eigen(benchmark::State& state) {
  const EVec a = EData(Size(state), 1), b = EData(Size(state), 2);
  for (auto _ : state) {
    EVec c = a + b;
    benchmark::DoNotOptimize(c.data());
  }
  Count(state);
}

void BM_MulVec_Eigen(benchmark::State& state) {
  EVec a = EData(Size(state), 1);
  const EVec b = EVec::Ones(static_cast<Eigen::Index>(Size(state)));
  for (auto _ : state) {
    a.array() *= b.array();
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_Scale_Eigen(benchmark::State& state) {
  EVec a = EData(Size(state), 1);
  const int f = Opaque(1);
  for (auto _ : state) {
    a *= f;
    benchmark::ClobberMemory();
  }
  Count(state);
}

void BM_Dot_Eigen(benchmark::State& state) {
  const EVec a = EData(Size(state), 1), b = EData(Size(state), 2);
  for (auto _ : state) benchmark::DoNotOptimize(a.dot(b));
  Count(state);
}

void BM_Sum_Eigen(benchmark::State& state) {
  const EVec a = EData(Size(state), 1);
  for (auto _ : state) benchmark::DoNotOptimize(a.sum());
  Count(state);
}

void BM_SumSq_Eigen(benchmark::State& state) {
  const EVec a = EData(Size(state), 1);
  for (auto _ : state) benchmark::DoNotOptimize(a.squaredNorm());
  Count(state);
}

void BM_Max_Eigen(benchmark::State& state) {
  const EVec a = EData(Size(state), 1);
  Eigen::Index index = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.maxCoeff(&index));
    benchmark::DoNotOptimize(index);
  }
  Count(state);
}

template <int kTrans>
void BM_VecMat_Eigen(benchmark::State& state) {
  const auto m0 = Data(std::size_t{kDim} * kDim, 3);
  const EMat m = Eigen::Map<const EMat>(m0.data(), kDim, kDim);
  const EVec v = EData(kDim, 4);
  for (auto _ : state) {
    Eigen::RowVectorXi r;
    if (kTrans) {
      r.noalias() = v.transpose() * m.transpose();
    } else {
      r.noalias() = v.transpose() * m;
    }
    benchmark::DoNotOptimize(r.data());
  }
  state.SetItemsProcessed(state.iterations() * kDim * kDim);
}

#define QMDATA_EIGEN_PEER(op) BENCHMARK(BM_##op##_Eigen)->Apply(Sizes);
#else
#define QMDATA_EIGEN_PEER(op)
#endif

void Sizes(benchmark::internal::Benchmark* b) {
  for (int n : {1 << 10, 1 << 16, 1 << 20, 1 << 24}) b->Arg(n);
}

#define QMDATA_PEERS(op, plain_fn, native_fn)   \
  BENCHMARK(BM_##op##_Ours)->Apply(Sizes);      \
  BENCHMARK_TEMPLATE(BM_##op##_Loop, plain_fn)  \
      ->Name("BM_" #op "_Plain")                \
      ->Apply(Sizes);                           \
  BENCHMARK(BM_##op##_Valarray)->Apply(Sizes);  \
  QMDATA_EIGEN_PEER(op)                         \
  BENCHMARK_TEMPLATE(BM_##op##_Loop, native_fn) \
      ->Name("BM_" #op "_Native")               \
      ->Apply(Sizes);

QMDATA_PEERS(AddVec, plain::AddInPlace, native::AddInPlace)
QMDATA_PEERS(AddView, plain::AddStrided, native::AddStrided)
QMDATA_PEERS(AddValue, plain::AddInto, native::AddInto)
QMDATA_PEERS(MulVec, plain::MulInPlace, native::MulInPlace)
QMDATA_PEERS(Scale, plain::Scale, native::Scale)
QMDATA_PEERS(Dot, plain::Dot, native::Dot)
QMDATA_PEERS(Sum, plain::Sum, native::Sum)
QMDATA_PEERS(Max, plain::Maximum, native::Maximum)

BENCHMARK(BM_SumSq_Ours)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Sum_Loop, plain::SumSq)
    ->Name("BM_SumSq_Plain")
    ->Apply(Sizes);
BENCHMARK(BM_SumSq_Valarray)->Apply(Sizes);
#if QMDATA_BENCH_EIGEN
BENCHMARK(BM_SumSq_Eigen)->Apply(Sizes);
#endif
BENCHMARK_TEMPLATE(BM_Sum_Loop, native::SumSq)
    ->Name("BM_SumSq_Native")
    ->Apply(Sizes);

BENCHMARK_TEMPLATE(BM_VecMat_Ours, 0)->Name("BM_VecMat_Ours");
BENCHMARK_TEMPLATE(BM_VecMat_Loop, plain::VecMat)->Name("BM_VecMat_Plain");
BENCHMARK_TEMPLATE(BM_VecMat_Valarray, 0)->Name("BM_VecMat_Valarray");
#if QMDATA_BENCH_EIGEN
BENCHMARK_TEMPLATE(BM_VecMat_Eigen, 0)->Name("BM_VecMat_Eigen");
#endif
BENCHMARK_TEMPLATE(BM_VecMat_Loop, native::VecMat)->Name("BM_VecMat_Native");

BENCHMARK_TEMPLATE(BM_VecMat_Ours, 1)->Name("BM_VecMatT_Ours");
BENCHMARK_TEMPLATE(BM_VecMat_Loop, plain::VecMatT)->Name("BM_VecMatT_Plain");
BENCHMARK_TEMPLATE(BM_VecMat_Valarray, 1)->Name("BM_VecMatT_Valarray");
#if QMDATA_BENCH_EIGEN
BENCHMARK_TEMPLATE(BM_VecMat_Eigen, 1)->Name("BM_VecMatT_Eigen");
#endif
BENCHMARK_TEMPLATE(BM_VecMat_Loop, native::VecMatT)->Name("BM_VecMatT_Native");

}  // namespace

BENCHMARK_MAIN();
