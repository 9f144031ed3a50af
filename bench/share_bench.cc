// Sharing a vector's block against the standard library's peers: copy and
// destroy of a sharer against std::shared_ptr<std::vector<int>>, alone and
// with two threads contending on one block, and a deep copy against a
// std::vector<int> copy.

#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "mathla/vector.h"

namespace {

using Vec = QmMathLA::vector<int>;

// Both peers share one block per benchmark; the threads of a multi-threaded
// run all copy from it.
const Vec& SharedVec() {
  static const Vec v(1024, std::vector<int>(1024, 7).data(), 0);
  return v;
}

const std::shared_ptr<std::vector<int>>& SharedPtr() {
  static const auto p = std::make_shared<std::vector<int>>(1024, 7);
  return p;
}

void BM_CopyDestroyVector(benchmark::State& state) {
  const Vec& src = SharedVec();
  for (auto _ : state) {
    Vec copy(src);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyDestroyVector)->Threads(1)->Threads(2)->UseRealTime();

void BM_CopyDestroySharedPtr(benchmark::State& state) {
  const auto& src = SharedPtr();
  for (auto _ : state) {
    std::shared_ptr<std::vector<int>> copy(src);
    benchmark::DoNotOptimize(copy);
  }
}
BENCHMARK(BM_CopyDestroySharedPtr)->Threads(1)->Threads(2)->UseRealTime();

void BM_AssignVector(benchmark::State& state) {
  const Vec& src = SharedVec();
  Vec slot;
  for (auto _ : state) {
    slot = src;
    slot = Vec();
    benchmark::DoNotOptimize(slot);
  }
}
BENCHMARK(BM_AssignVector)->Threads(1)->Threads(2)->UseRealTime();

void BM_AssignSharedPtr(benchmark::State& state) {
  const auto& src = SharedPtr();
  std::shared_ptr<std::vector<int>> slot;
  for (auto _ : state) {
    slot = src;
    slot.reset();
    benchmark::DoNotOptimize(slot);
  }
}
BENCHMARK(BM_AssignSharedPtr)->Threads(1)->Threads(2)->UseRealTime();

void BM_DeepCopyVector(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Vec src(n, std::vector<int>(static_cast<std::size_t>(n), 3).data(), 0);
  for (auto _ : state) {
    Vec copy(src, 1);
    benchmark::DoNotOptimize(copy);
  }
  state.SetBytesProcessed(state.iterations() * n * 4);
}
BENCHMARK(BM_DeepCopyVector)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

void BM_DeepCopyStdVector(benchmark::State& state) {
  const std::vector<int> src(static_cast<std::size_t>(state.range(0)), 3);
  for (auto _ : state) {
    std::vector<int> copy(src);
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 4);
}
BENCHMARK(BM_DeepCopyStdVector)->Arg(1 << 10)->Arg(1 << 16)->Arg(1 << 20);

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
