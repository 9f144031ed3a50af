// SPDX-License-Identifier: MIT
// Sharing one block from several threads.
//
// Scheme: the main thread makes one block and gives each worker a sharer of
// its own. Each worker then copies its sharer and destroys the copy, or
// assigns it into a local and lets that go, many times. The shared count is
// only ever touched under the block's lock word, so at every quiescent point
// (after all workers joined) it must equal the number of live sharers
// exactly, and the element array must be freed once, by the last sharer.
// The unhook race runs two threads that unhook two sharers of one block at
// the same moment: exactly one of them may get the array.

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mathla/vector.h"

#include "alloc_tracker.h"
#include "vector_support.h"

namespace {

void RunSharers(int threads, int iterations) {
  int raw[] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto* block = new Vec(8, raw, 0);
  alloc_tracker::watched = FieldsOf(*block).data;
  alloc_tracker::watched_releases = 0;
  {
    std::vector<Vec> sharers(static_cast<std::size_t>(threads), *block);
    EXPECT_EQ(SharedCount(*block), threads + 1);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&sharers, t, iterations] {
        const Vec& mine = sharers[static_cast<std::size_t>(t)];
        Vec slot;
        for (int i = 0; i < iterations; ++i) {
          if (i & 1) {
            slot = mine;  // assign: share, later let go on reassignment
            slot = Vec();
          } else {
            Vec copy(mine);
            (void)copy;
          }
        }
      });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(SharedCount(*block), threads + 1);
    EXPECT_EQ(sharers.front()[3], 4);
  }
  EXPECT_EQ(SharedCount(*block), 1);
  const long freed_before = alloc_tracker::watched_releases;
  delete block;
  if (kAllocationsTracked) {  // freed exactly once, by the last sharer
    EXPECT_EQ(freed_before, 0);
    EXPECT_EQ(alloc_tracker::watched_releases, 1);
  }
  alloc_tracker::watched = nullptr;
}

TEST(VectorConcurrency, TwoThreadsCopyAndDestroyAMillionTimes) {
  RunSharers(2, 1000000);
}

TEST(VectorConcurrency, FourThreadsCopyAndDestroy) { RunSharers(4, 250000); }

TEST(VectorConcurrency, ConcurrentUnhookSucceedsOnce) {
  constexpr int kRounds = 2000;
  Vec a, b;
  std::atomic<int*> got_a{nullptr}, got_b{nullptr};
  SpinBarrier sync(2);
  int failures = 0;
  std::thread other([&] {
    for (int r = 0; r < kRounds; ++r) {
      sync.ArriveAndWait();  // the main thread has set up a and b
      got_b = b.unhook();
      sync.ArriveAndWait();
    }
  });
  for (int r = 0; r < kRounds; ++r) {
    int raw[] = {r, r + 1};
    a = Vec(2, raw, 0);
    b = a;
    sync.ArriveAndWait();
    got_a = a.unhook();
    sync.ArriveAndWait();
    int* pa = got_a.load();
    int* pb = got_b.load();
    if ((pa == nullptr) == (pb == nullptr) || SharedCount(a) != -2) ++failures;
    a = Vec();
    b = Vec();  // the last sharer must not free the unhooked array
    int* owned = pa ? pa : pb;
    if (owned != nullptr) {
      if (owned[0] != r || owned[1] != r + 1) ++failures;
      delete[] owned;
    }
  }
  other.join();
  EXPECT_EQ(failures, 0);
}

}  // namespace
