// SPDX-License-Identifier: MIT
// Test support: counts the program's global allocations and their live
// bytes (with the peak), watches for the release of chosen pointers and makes
// a chosen allocation fail. Include it in exactly one file of a program: it
// replaces the global allocation operators, which the library's allocations
// go through as well.

#ifndef QMDATA_TESTS_ALLOC_TRACKER_H_
#define QMDATA_TESTS_ALLOC_TRACKER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

// A Windows DLL keeps its own allocation operators, so the replacements
// below see none of the library's allocations there: tests that count or fail
// them skip themselves.
#if defined(_WIN32) && !defined(QMDATA_STATIC)
#define SKIP_UNLESS_ALLOCATIONS_TRACKED() \
  GTEST_SKIP() << "a DLL's allocations are not visible to its caller"
inline constexpr bool kAllocationsTracked = false;
#else
#define SKIP_UNLESS_ALLOCATIONS_TRACKED() static_cast<void>(0)
inline constexpr bool kAllocationsTracked = true;
#endif

namespace alloc_tracker {

inline std::atomic<long> allocations{0};
inline std::atomic<long> releases{0};
// Releases of `watched`; a block freed twice would show 2.
inline std::atomic<const void*> watched{nullptr};
inline std::atomic<long> watched_releases{0};
// When positive, the allocation that brings the count down to 0 fails.
inline std::atomic<long> fail_countdown{0};
// Allocations made to fail so far.
inline std::atomic<long> injected_failures{0};

// Blocks whose releases are counted one by one (WatchBlocks). An address
// that the allocator hands out again stops being watched, so the release of
// the reused memory is not taken for a second release of the block.
inline constexpr int kBlockSlots = 12;
inline std::atomic<const void*> watched_blocks[kBlockSlots];
inline std::atomic<long> block_releases[kBlockSlots];

inline void WatchBlocks(std::initializer_list<const void*> blocks) {
  int i = 0;
  for (const void* p : blocks) {
    if (i == kBlockSlots) break;
    block_releases[i].store(0);
    watched_blocks[i++].store(p);
  }
  for (; i < kBlockSlots; ++i) watched_blocks[i].store(nullptr);
}

// Bytes allocated and not yet released, and the most there were since the
// last ResetPeak.
inline std::atomic<std::size_t> live_bytes{0};
inline std::atomic<std::size_t> peak_bytes{0};

inline void ResetPeak() { peak_bytes.store(live_bytes.load()); }

// Each block carries its size in a header of this many bytes, which keeps
// the caller's part aligned for any fundamental type.
constexpr std::size_t kHeader = alignof(std::max_align_t);

inline void* Allocate(std::size_t n) {
  long c = fail_countdown.load(std::memory_order_relaxed);
  if (c > 0 && fail_countdown.fetch_sub(1) == 1) {
    injected_failures.fetch_add(1);
    throw std::bad_alloc();
  }
  if (n > SIZE_MAX - kHeader) throw std::bad_alloc();
  auto* base = static_cast<unsigned char*>(std::malloc(n + kHeader));
  if (base == nullptr) throw std::bad_alloc();
  std::memcpy(base, &n, sizeof n);
  allocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t live = live_bytes.fetch_add(n) + n;
  std::size_t peak = peak_bytes.load();
  while (live > peak && !peak_bytes.compare_exchange_weak(peak, live)) {
  }
  void* p = base + kHeader;
  for (auto& w : watched_blocks) {
    const void* expected = p;
    if (w.load(std::memory_order_relaxed) == p) {
      w.compare_exchange_strong(expected, nullptr);
    }
  }
  return p;
}

inline void Release(void* p) {
  if (p == nullptr) return;
  releases.fetch_add(1, std::memory_order_relaxed);
  if (p == watched.load(std::memory_order_relaxed)) {
    watched_releases.fetch_add(1, std::memory_order_relaxed);
  }
  for (int i = 0; i < kBlockSlots; ++i) {
    if (watched_blocks[i].load(std::memory_order_relaxed) == p) {
      block_releases[i].fetch_add(1);
    }
  }
  unsigned char* base = static_cast<unsigned char*>(p) - kHeader;
  std::size_t n = 0;
  std::memcpy(&n, base, sizeof n);
  live_bytes.fetch_sub(n);
  std::free(base);
}

// While it lives, the k-th allocation from its construction on fails with
// std::bad_alloc (once).
class FailAllocation {
 public:
  explicit FailAllocation(long k) : failed0_(injected_failures.load()) {
    fail_countdown.store(k);
  }
  ~FailAllocation() { fail_countdown.store(0); }
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;
  bool fired() const { return injected_failures.load() != failed0_; }

 private:
  long failed0_;
};

// Calls body(k) for k = 1, 2, ..., body arming a FailAllocation(k) around
// the operation under test, until a call in which no allocation failed: the
// operation then ran to its end. Returns the number of calls in which one
// failed (the operation's allocation points), or -1 when it never ends.
template <typename Body>
long ForEachAllocationFailure(Body&& body) {
  for (long k = 1; k <= 10000; ++k) {
    const long before = injected_failures.load();
    body(k);
    if (injected_failures.load() == before) return k - 1;
  }
  return -1;
}

// Allocations minus releases since construction.
class Scope {
 public:
  Scope() : a0_(allocations.load()), r0_(releases.load()) {}
  long allocated() const { return allocations.load() - a0_; }
  long released() const { return releases.load() - r0_; }

 private:
  long a0_, r0_;
};

}  // namespace alloc_tracker

void* operator new(std::size_t n) { return alloc_tracker::Allocate(n); }
void* operator new[](std::size_t n) { return alloc_tracker::Allocate(n); }
void operator delete(void* p) noexcept { alloc_tracker::Release(p); }
void operator delete[](void* p) noexcept { alloc_tracker::Release(p); }
void operator delete(void* p, std::size_t) noexcept {
  alloc_tracker::Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  alloc_tracker::Release(p);
}
// The nothrow forms as well: a sanitizer's runtime brings its own, which
// would give the replaced delete a block without the size header.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return alloc_tracker::Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  alloc_tracker::Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  alloc_tracker::Release(p);
}

#endif  // QMDATA_TESTS_ALLOC_TRACKER_H_
