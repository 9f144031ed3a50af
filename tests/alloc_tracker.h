// Test support: counts the program's global allocations and their live
// bytes (with the peak), and watches for the release of one chosen pointer. Include it in exactly one file of a test
// program: it replaces the global allocation operators, which the library's
// allocations go through as well.

#ifndef QMDATA_TESTS_ALLOC_TRACKER_H_
#define QMDATA_TESTS_ALLOC_TRACKER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
  if (c > 0 && fail_countdown.fetch_sub(1) == 1) throw std::bad_alloc();
  if (n > SIZE_MAX - kHeader) throw std::bad_alloc();
  auto* base = static_cast<unsigned char*>(std::malloc(n + kHeader));
  if (base == nullptr) throw std::bad_alloc();
  std::memcpy(base, &n, sizeof n);
  allocations.fetch_add(1, std::memory_order_relaxed);
  const std::size_t live = live_bytes.fetch_add(n) + n;
  std::size_t peak = peak_bytes.load();
  while (live > peak && !peak_bytes.compare_exchange_weak(peak, live)) {
  }
  return base + kHeader;
}

inline void Release(void* p) {
  if (p == nullptr) return;
  releases.fetch_add(1, std::memory_order_relaxed);
  if (p == watched.load(std::memory_order_relaxed)) {
    watched_releases.fetch_add(1, std::memory_order_relaxed);
  }
  unsigned char* base = static_cast<unsigned char*>(p) - kHeader;
  std::size_t n = 0;
  std::memcpy(&n, base, sizeof n);
  live_bytes.fetch_sub(n);
  std::free(base);
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
