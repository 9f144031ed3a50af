// SPDX-License-Identifier: MIT
// Two threads unhook two sharers of one block at the same moment: exactly
// one of them may get the array. (The count under copies, assignments and
// destruction from many threads is VectorStress's.)

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "mathla/vector.h"

#include "vector_support.h"

namespace {

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
