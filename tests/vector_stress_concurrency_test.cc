// SPDX-License-Identifier: MIT
// Thread stress of the shared block's count and lock.
//
// Scheme. The main thread makes one owned block (the "root" vector) and, for
// each worker, a sharer of it; then it starts 2, 4 or 8 workers. Each worker
// repeatedly copies its sharer and the root into locals (the copy
// constructor), assigns them to one another, to the empty vector and to a
// private block of its own (operator=, which lets go of the old block before
// it shares the new one), reads an element through them and destroys them.
// Every iteration gives back every share it took, so the workers' net effect
// on the count is zero. At each quiescent point (all workers joined) the
// count is therefore exact: the number of sharers the main thread still
// holds, with a negative sign once the block has been unhooked.
//
// Three runs per thread count:
//   - churn only: the count comes back to 1 + workers, nothing is freed;
//   - one worker unhooks the block mid-run while the others churn: the sign
//     flips exactly once and the count stays exact; after every sharer is
//     gone the array is intact (the library never frees it) and the count
//     and lock word were each freed exactly once;
//   - the root is dropped and every worker destroys its sharer at the end of
//     its churn: the last one frees the elements, the count and the lock word,
//     each exactly once.
// Frees are counted by the shared allocation tracker (alloc_tracker.h), whose
// replaced operators the library's own releases reach on ELF platforms. A
// Windows DLL keeps its own operators, so there the free counts are not
// checked (the sanitizer and valgrind builds still catch a double or a
// missing free).

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mathla/vector.h"

#include "alloc_tracker.h"
#include "vector_support.h"

namespace {

using Vec = QmMathLA::vector<int>;

// --- release counting -------------------------------------------------------

// The elements, the shared count and the lock word of the root block.
void Watch(void* a, void* b, void* c) { alloc_tracker::WatchBlocks({a, b, c}); }
long Released(int i) { return alloc_tracker::block_releases[i].load(); }
constexpr bool kCountsFrees = kAllocationsTracked;

// --- the workers
// --------------------------------------------------------------

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
    rf = FieldsOf(root);
    Watch(rf.data, rf.refs, rf.lock);
    sharers.assign(threads, root);
  }
  const int threads = GetParam();
  Vec root;
  VectorFields rf{};
  std::vector<Vec> sharers;
};

TEST_P(VectorStress, ChurnLeavesCountExact) {
  ShareRoot();
  ASSERT_EQ(*rf.refs, 1 + threads);

  std::atomic<long> bad_reads{0};
  SpinBarrier gate(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back(Churn, std::cref(root), std::cref(sharers[t]),
                      Iterations(threads), &bad_reads, &gate);
  }
  for (auto& th : pool) th.join();

  EXPECT_EQ(bad_reads.load(), 0);
  EXPECT_EQ(*rf.refs, 1 + threads);
  EXPECT_EQ(*rf.lock, 0) << "lock word left taken";
  for (const Vec& s : sharers) {
    const VectorFields f = FieldsOf(s);
    EXPECT_EQ(f.data, rf.data);
    EXPECT_EQ(f.refs, rf.refs);
    EXPECT_EQ(f.lock, rf.lock);
  }
  if (kCountsFrees) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Released(i), 0);
  }
  sharers.clear();
  EXPECT_EQ(*rf.refs, 1);
}

TEST_P(VectorStress, UnhookMidRunFlipsSignOnceAndKeepsArray) {
  ShareRoot();

  std::atomic<long> bad_reads{0};
  std::atomic<int> unhooked{0};
  int* array = nullptr;
  SpinBarrier gate(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      const int iterations = Iterations(threads);
      Churn(root, sharers[t], iterations / 2, &bad_reads, &gate);
      // Every worker tries; exactly one unhook may succeed.
      if (int* p = sharers[t].unhook()) {
        unhooked.fetch_add(1);
        array = p;
      }
      Churn(root, sharers[t], iterations - iterations / 2, &bad_reads);
    });
  }
  for (auto& th : pool) th.join();

  EXPECT_EQ(bad_reads.load(), 0);
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
  if (kCountsFrees) {
    EXPECT_EQ(Released(0), 0) << "unhooked elements freed";
    EXPECT_EQ(Released(1), 1) << "shared count";
    EXPECT_EQ(Released(2), 1) << "lock word";
  }
  delete[] array;
}

TEST_P(VectorStress, LastOfConcurrentSharersFreesOnce) {
  auto original = std::make_unique<Vec>(MakeRoot());
  const VectorFields ff = FieldsOf(*original);
  Watch(ff.data, ff.refs, ff.lock);
  std::vector<std::unique_ptr<Vec>> owners;
  for (int t = 0; t < threads; ++t) {
    owners.push_back(std::make_unique<Vec>(*original));
  }

  std::atomic<long> bad_reads{0};
  std::atomic<int> started{0};
  SpinBarrier gate(threads);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&, t] {
      Vec& own = *owners[t];
      Vec keep(own);  // a second share, taken while the original is alive
      started.fetch_add(1);
      Churn(own, own, Iterations(threads) / 2, &bad_reads, &gate);
      owners[t].reset();
      Churn(keep, keep, Iterations(threads) / 2, &bad_reads);
    });
  }
  // Drop the original once every worker holds its own second share.
  while (started.load() < threads) std::this_thread::yield();
  original.reset();
  for (auto& th : pool) th.join();

  EXPECT_EQ(bad_reads.load(), 0);
  if (kCountsFrees) {
    EXPECT_EQ(Released(0), 1) << "elements";
    EXPECT_EQ(Released(1), 1) << "shared count";
    EXPECT_EQ(Released(2), 1) << "lock word";
  }
}

INSTANTIATE_TEST_SUITE_P(Threads, VectorStress, ::testing::Values(2, 4, 8));

}  // namespace
