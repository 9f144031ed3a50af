// SPDX-License-Identifier: MIT
// Thread stress of the shared block's count and lock. Workers copy, assign
// and destroy sharers of one root block, each iteration giving back every
// share it took, so once they are joined the count is exact: the sharers the
// main thread holds, negative once the block is unhooked. Frees of the
// elements, the count and the lock word are counted by alloc_tracker.h (not
// where a Windows DLL keeps its own allocation operators).

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mathla/vector.h"

#include "alloc_tracker.h"
#include "vector_support.h"

namespace {

constexpr int kElems = 16;

// Copies, assigns and destroys sharers of own's and root's block. Reads only
// fields of objects this thread owns, plus root's fields, which nobody changes
// while workers run.
void Churn(const Vec& root, const Vec& own, int iterations,
           std::atomic<long>* bad_reads, SpinBarrier* gate = nullptr) {
  if (gate != nullptr) gate->ArriveAndWait();
  int raw[kElems];
  for (int i = 0; i < kElems; ++i) raw[i] = -i;
  Vec priv(kElems, raw, 0);  // a block of this thread alone
  long bad = 0;
  for (int it = 0; it < iterations; ++it) {
    Vec a(own);
    Vec b(root);
    Vec c;
    c = a;
    a = priv;
    b = c;
    c = Vec();
    {
      Vec d(b);
      Vec e = d;
      d = priv;
      e = root;
      if (e[it % kElems] != 1000 + it % kElems) ++bad;
    }
    a = b;
    if (a[it] != 1000 + it % kElems) ++bad;
  }
  bad_reads->fetch_add(bad);
}

Vec MakeRoot() {
  int raw[kElems];
  for (int i = 0; i < kElems; ++i) raw[i] = 1000 + i;
  return Vec(kElems, raw, 0);
}

// Iterations per worker: enough for the threads to overlap many times, small
// enough to stay within a few seconds under ThreadSanitizer.
int Iterations(int threads) { return 96000 / threads; }

class VectorStress : public ::testing::TestWithParam<int> {
 protected:
  // root: a watched block, shared by one sharer per thread.
  void ShareRoot() {
    root = MakeRoot();
    Watch(root);
    sharers.assign(threads, root);
  }
  // Watches the releases of v's elements, count and lock word.
  void Watch(const Vec& v) {
    rf = FieldsOf(v);
    alloc_tracker::WatchBlocks({rf.data, rf.refs, rf.lock});
  }
  // Runs work(t) on every worker, and during() on this thread meanwhile.
  template <typename F>
  void Run(F work, const std::function<void()>& during = {}) {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(work, t);
    if (during) during();
    for (auto& th : pool) th.join();
    EXPECT_EQ(bad_reads.load(), 0);
  }
  // How often each of the watched blocks was freed.
  static void ExpectReleased(long elements, long count, long lock) {
    if (!kAllocationsTracked) return;
    const auto& r = alloc_tracker::block_releases;
    EXPECT_EQ(r[0].load(), elements) << "elements";
    EXPECT_EQ(r[1].load(), count) << "shared count";
    EXPECT_EQ(r[2].load(), lock) << "lock word";
  }
  const int threads = GetParam();
  Vec root;
  VectorFields rf{};
  std::vector<Vec> sharers;
  std::atomic<long> bad_reads{0};
  SpinBarrier gate{threads};
};

TEST_P(VectorStress, ChurnLeavesCountExact) {
  ShareRoot();
  ASSERT_EQ(*rf.refs, 1 + threads);
  Run([&](int t) {
    Churn(root, sharers[t], Iterations(threads), &bad_reads, &gate);
  });
  EXPECT_EQ(*rf.refs, 1 + threads);
  EXPECT_EQ(*rf.lock, 0) << "lock word left taken";
  for (const Vec& s : sharers) {
    const VectorFields f = FieldsOf(s);
    EXPECT_EQ(f.data, rf.data);
    EXPECT_EQ(f.refs, rf.refs);
    EXPECT_EQ(f.lock, rf.lock);
  }
  ExpectReleased(0, 0, 0);
  sharers.clear();
  EXPECT_EQ(*rf.refs, 1);
}

TEST_P(VectorStress, UnhookMidRunFlipsSignOnceAndKeepsArray) {
  ShareRoot();
  std::atomic<int> unhooked{0};
  int* array = nullptr;
  Run([&](int t) {
    const int iterations = Iterations(threads);
    Churn(root, sharers[t], iterations / 2, &bad_reads, &gate);
    // Every worker tries; exactly one unhook may succeed.
    if (int* p = sharers[t].unhook()) {
      unhooked.fetch_add(1);
      array = p;
    }
    Churn(root, sharers[t], iterations - iterations / 2, &bad_reads);
  });
  ASSERT_EQ(unhooked.load(), 1);
  ASSERT_EQ(array, rf.data);
  EXPECT_EQ(*rf.refs, -(1 + threads));
  EXPECT_EQ(root.unhook(), nullptr);
  EXPECT_EQ(*rf.refs, -(1 + threads));

  // Drop every sharer but the root: the count climbs back towards -1.
  sharers.clear();
  EXPECT_EQ(*rf.refs, -1);
  root = Vec();
  for (int i = 0; i < kElems; ++i) ASSERT_EQ(array[i], 1000 + i);
  ExpectReleased(0, 1, 1);  // the unhooked elements are the caller's
  delete[] array;
}

TEST_P(VectorStress, LastOfConcurrentSharersFreesOnce) {
  auto original = std::make_unique<Vec>(MakeRoot());
  Watch(*original);
  std::vector<std::unique_ptr<Vec>> owners;
  for (int t = 0; t < threads; ++t) {
    owners.push_back(std::make_unique<Vec>(*original));
  }
  std::atomic<int> started{0};
  Run(
      [&](int t) {
        Vec& own = *owners[t];
        Vec keep(own);  // a second share, taken while the original is alive
        started.fetch_add(1);
        Churn(own, own, Iterations(threads) / 2, &bad_reads, &gate);
        owners[t].reset();
        Churn(keep, keep, Iterations(threads) / 2, &bad_reads);
      },
      [&] {  // drop the original once every worker holds a second share
        while (started.load() < threads) std::this_thread::yield();
        original.reset();
      });
  ExpectReleased(1, 1, 1);
}

INSTANTIATE_TEST_SUITE_P(Threads, VectorStress, ::testing::Values(2, 4, 8));

}  // namespace
