// Test support: counts the program's global allocations and watches for the
// release of one chosen pointer. Include it in exactly one file of a test
// program: it replaces the global allocation operators, which the library's
// allocations go through as well.

#ifndef QMDATA_TESTS_ALLOC_TRACKER_H_
#define QMDATA_TESTS_ALLOC_TRACKER_H_

#include <atomic>
#include <cstdlib>
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

inline void* Allocate(std::size_t n) {
  long c = fail_countdown.load(std::memory_order_relaxed);
  if (c > 0 && fail_countdown.fetch_sub(1) == 1) throw std::bad_alloc();
  void* p = std::malloc(n ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  allocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

inline void Release(void* p) {
  if (p == nullptr) return;
  releases.fetch_add(1, std::memory_order_relaxed);
  if (p == watched.load(std::memory_order_relaxed)) {
    watched_releases.fetch_add(1, std::memory_order_relaxed);
  }
  std::free(p);
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

#endif  // QMDATA_TESTS_ALLOC_TRACKER_H_
