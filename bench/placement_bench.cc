// SPDX-License-Identifier: MIT
// The placement sweep: element-wise arithmetic and reductions of
// QmMathLA::vector<int> against the plain __restrict loops built -O3
// -march=native (placement_peer.h), in one program, with the operands placed
// on purpose. Where two arrays lie relative to each other decides 4 KiB
// aliasing and which loads split a cache line, for both sides; the sweep
// shows whether the library keeps up with the loop at every placement.
//
// Operations: a += b, a -= b, a ^= b, a *= k, a . b (dot), a.sum(), at 1 Ki,
// 64 Ki and 1 Mi ints. Both operands are caller arrays that our vectors
// adopt; a starts on a 4 KiB boundary and b at each of kOffsets bytes after
// a 4 KiB boundary of its own. The one-operand operations (*= k, sum) put
// their operand at the offsets instead.
//
// Every (operation, size, offset) runs for both sides, all runs in random
// order, repeated (defaults below; any --benchmark_* flag overrides them).
// The table gives, per offset, the ratio of the median CPU times, ours over
// the loop's, then the worst and the median of those ratios, and the
// instruction-set level the library chose (QMDATA_ISA=avx2 or baseline
// caps it). At the AVX2 level the peer is the loop built without AVX-512,
// as an AVX2 machine builds it.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "mathla/kernels.h"
#include "mathla/vector.h"

#include "placement_peer.h"

namespace {

using V = QmMathLA::vector<int>;

enum class Op { kAdd, kSub, kMul, kScale, kDot, kSum };
struct OpInfo {
  Op op;
  const char* key;  // in the benchmarks' names, for --benchmark_filter
  const char* label;
  bool two_operands;
};
constexpr OpInfo kOps[] = {
    {Op::kAdd, "add", "a += b", true}, {Op::kSub, "sub", "a -= b", true},
    {Op::kMul, "mul", "a ^= b", true}, {Op::kScale, "scale", "a *= k", false},
    {Op::kDot, "dot", "dot", true},    {Op::kSum, "sum", "sum", false},
};
constexpr std::size_t kSizes[] = {std::size_t{1} << 10, std::size_t{1} << 16,
                                  std::size_t{1} << 20};
constexpr std::size_t kOffsets[] = {0, 4, 16, 32, 48, 2048 + 16};
constexpr std::size_t kPage = 4096;
constexpr std::size_t kMi = std::size_t{1} << 20;

// n ints at offset bytes after a 4 KiB boundary, values 0..99.
class Placed {
 public:
  Placed(std::size_t n, std::size_t offset, unsigned seed)
      : base_(static_cast<char*>(std::aligned_alloc(
            kPage, (offset + n * sizeof(int) + kPage - 1) / kPage * kPage))),
        data_(reinterpret_cast<int*>(base_ + offset)) {
    if (base_ == nullptr) std::abort();
    std::mt19937 gen(seed);
    for (std::size_t i = 0; i < n; ++i)
      data_[i] = static_cast<int>(gen() % 100);
  }
  Placed(const Placed&) = delete;
  Placed& operator=(const Placed&) = delete;
  ~Placed() { std::free(base_); }
  int* data() const { return data_; }

 private:
  char* base_;
  int* data_;
};

template <class F>
void Loop(benchmark::State& state, F f) {
  for (auto _ : state) {
    f();
    benchmark::ClobberMemory();
  }
}

template <class Peer>
void Run(benchmark::State& state, Op op, bool ours, std::size_t n,
         std::size_t offset, bool two_operands) {
  Placed a(n, two_operands ? 0 : offset, 1), b(n, offset, 2);
  int* pa = a.data();
  const int* pb = b.data();
  V x(static_cast<int>(n), pa, 1), y(static_cast<int>(n), b.data(), 1);
  int k = 3;
  benchmark::DoNotOptimize(k);
  switch (op) {
    case Op::kAdd:
      if (ours) return Loop(state, [&] { x += y; });
      return Loop(state, [&] { Peer::Add(pa, pb, n); });
    case Op::kSub:
      if (ours) return Loop(state, [&] { x -= y; });
      return Loop(state, [&] { Peer::Sub(pa, pb, n); });
    case Op::kMul:
      if (ours) return Loop(state, [&] { x ^= y; });
      return Loop(state, [&] { Peer::Mul(pa, pb, n); });
    case Op::kScale:
      if (ours) return Loop(state, [&] { x *= k; });
      return Loop(state, [&] { Peer::Scale(pa, k, n); });
    case Op::kDot:
      if (ours) return Loop(state, [&] { benchmark::DoNotOptimize(x * y); });
      return Loop(state,
                  [&] { benchmark::DoNotOptimize(Peer::Dot(pa, pb, n)); });
    case Op::kSum:
      if (ours) return Loop(state, [&] { benchmark::DoNotOptimize(x.sum()); });
      return Loop(state, [&] { benchmark::DoNotOptimize(Peer::Sum(pa, n)); });
  }
}

std::string Name(const OpInfo& o, std::size_t n, std::size_t offset,
                 bool ours) {
  return std::string(o.key) + "/" + std::to_string(n) + "/+" +
         std::to_string(offset) + (ours ? "/ours" : "/loop");
}

// The AVX2 level is measured against the loop an AVX2 machine compiles.
bool Avx2Peer() {
  return std::strcmp(qmdata::detail::Active().name, "avx2") == 0;
}

void RegisterAll() {
  const auto run =
      Avx2Peer() ? Run<NativeLoops<kNativeAvx2>> : Run<NativeLoops<kNative>>;
  for (const OpInfo& o : kOps) {
    for (std::size_t n : kSizes) {
      for (std::size_t offset : kOffsets) {
        for (bool ours : {true, false}) {
          benchmark::RegisterBenchmark(
              Name(o, n, offset, ours).c_str(),
              [run, o, n, offset, ours](benchmark::State& s) {
                run(s, o.op, ours, n, offset, o.two_operands);
              });
        }
      }
    }
  }
}

// The clock the core runs this thread at, in GHz, from a chain of 2e8
// dependent decrements (one per cycle); 0 where that is not x86. A shared
// host may change a core's clock for minutes at a time, which moves every
// ratio; the sweep prints it before and after (docs/DEVELOPING.md).
// The loop starts on a 64-byte boundary: a copy whose decrement and branch
// lie in two fetch blocks takes two cycles per turn on some cores, which
// would read as the clock halving between the two calls.
double CoreClockGHz() {
#if defined(__x86_64__) || defined(__i386__)
  long n = 200000000;
  const auto start = std::chrono::steady_clock::now();
  __asm__ volatile(".p2align 6\n1: dec %0\n\tjnz 1b" : "+r"(n));
  const std::chrono::duration<double> s =
      std::chrono::steady_clock::now() - start;
  return 0.2 / s.count();
#else
  return 0;
#endif
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Collects the CPU time per iteration of every run and prints the table at
// the end instead of a line per run.
class SweepReporter : public benchmark::BenchmarkReporter {
 public:
  explicit SweepReporter(double clock) : clock_(clock) {}
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
      times_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime());
    }
  }
  void Finalize() override {
    std::printf("library level: %s (QMDATA_ISA=%s)\n",
                qmdata::detail::Active().name,
                std::getenv("QMDATA_ISA") ? std::getenv("QMDATA_ISA") : "");
    const double after = CoreClockGHz();
    std::printf("core clock: %.2f GHz before, %.2f after%s\n", clock_, after,
                after < 0.95 * clock_ || clock_ < 0.95 * after
                    ? " (it moved: the ratios are not a measurement)"
                    : "");
    std::printf(
        "ratio = our CPU time / the loop's (-O3 -march=native%s), "
        "medians of the runs\n\n",
        Avx2Peer() ? " -mno-avx512f" : "");
    std::printf("| op | size |");
    for (std::size_t offset : kOffsets) std::printf(" +%zu |", offset);
    std::printf(" worst | median |\n|---|---|");
    for (std::size_t i = 0; i < std::size(kOffsets) + 2; ++i)
      std::printf("---|");
    std::printf("\n");
    for (const OpInfo& o : kOps) {
      for (std::size_t n : kSizes) {
        std::vector<double> ratios;
        std::string cells;
        for (std::size_t offset : kOffsets) {
          const auto ours = times_.find(Name(o, n, offset, true));
          const auto loop = times_.find(Name(o, n, offset, false));
          if (ours == times_.end() || loop == times_.end()) continue;
          const double r = Median(ours->second) / Median(loop->second);
          ratios.push_back(r);
          char cell[32];
          std::snprintf(cell, sizeof cell, " %.2f |", r);
          cells += cell;
        }
        if (ratios.empty()) continue;
        std::printf("| %s | %zu %s |%s %.2f | %.2f |\n", o.label,
                    n >= kMi ? n / kMi : n / 1024, n >= kMi ? "Mi" : "Ki",
                    cells.c_str(),
                    *std::max_element(ratios.begin(), ratios.end()),
                    Median(ratios));
      }
    }
  }

 private:
  std::map<std::string, std::vector<double>> times_;
  double clock_;
};

}  // namespace

int main(int argc, char** argv) {
  // Defaults first, so that the caller's flags override them.
  std::vector<char*> args{argv[0]};
  std::string defaults[] = {"--benchmark_repetitions=5",
                            "--benchmark_enable_random_interleaving=true",
                            "--benchmark_min_time=0.05"};
  for (std::string& d : defaults) args.push_back(d.data());
  args.insert(args.end(), argv + 1, argv + argc);
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  RegisterAll();
  SweepReporter reporter(CoreClockGHz());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
