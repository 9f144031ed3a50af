// SPDX-License-Identifier: MIT
// Sharing a vector's block against the standard library's peers: copy and
// destroy of a sharer against std::shared_ptr<std::vector<int>>, alone and
// with two threads contending on one block, and a deep copy against a
// std::vector<int> copy. Each benchmark is a template over its peer:
// BM_<What><Peer>, as in BM_CopyDestroy<SharedPtr>.

#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "mathla/vector.h"

namespace {

// Each peer's T; Shared() is the one block that every thread of a run copies,
// Filled(n) a fresh block of n elements and Deep(src) a copy of its elements.
struct Ours {
  using T = QmMathLA::vector<int>;
  static const T& Shared() {
    static const T v(1024, std::vector<int>(1024, 7).data(), 0);
    return v;
  }
  static T Filled(int n) {
    return T(n, std::vector<int>(static_cast<std::size_t>(n), 3).data(), 0);
  }
  static T Deep(const T& src) { return T(src, 1); }
};

struct SharedPtr {
  using T = std::shared_ptr<std::vector<int>>;
  static const T& Shared() {
    static const T p = std::make_shared<std::vector<int>>(1024, 7);
    return p;
  }
};

struct StdVector {
  using T = std::vector<int>;
  static T Filled(int n) { return T(static_cast<std::size_t>(n), 3); }
  static T Deep(const T& src) { return src; }
};

// One thread, and two contending on the block.
void Contended(benchmark::internal::Benchmark* b) {
  b->Threads(1)->Threads(2)->UseRealTime();
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);
}

template <class P>
void BM_CopyDestroy(benchmark::State& state) {
  const auto& src = P::Shared();
  for (auto _ : state) {
    typename P::T copy(src);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK_TEMPLATE(BM_CopyDestroy, Ours)->Apply(Contended);
BENCHMARK_TEMPLATE(BM_CopyDestroy, SharedPtr)->Apply(Contended);

// Assign a sharer into a slot, then empty the slot.
template <class P>
void BM_Assign(benchmark::State& state) {
  const auto& src = P::Shared();
  typename P::T slot;
  for (auto _ : state) {
    slot = src;
    slot = typename P::T();
    benchmark::DoNotOptimize(slot);
  }
}
BENCHMARK_TEMPLATE(BM_Assign, Ours)->Apply(Contended);
BENCHMARK_TEMPLATE(BM_Assign, SharedPtr)->Apply(Contended);

template <class P>
void BM_DeepCopy(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const auto src = P::Filled(n);
  for (auto _ : state) {
    auto copy = P::Deep(src);
    benchmark::DoNotOptimize(copy);
  }
  state.SetBytesProcessed(state.iterations() * n * 4);
}
BENCHMARK_TEMPLATE(BM_DeepCopy, Ours)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_DeepCopy, StdVector)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
  // Reference counts use atomic operations only once a process has started a
  // thread; start one so both peers are measured as they run in real
  // programs.
  std::thread([] {}).join();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
