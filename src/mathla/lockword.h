// SPDX-License-Identifier: MIT
// The per-block spin lock of QmMathLA::vector: a 32-bit word that is 0 when
// free and holds the owning thread's id when taken. Internal; not installed.
//
// The thread id and the yield are the only platform-specific parts: on
// Windows GetCurrentThreadId and SwitchToThread, elsewhere the kernel's
// thread id (cached per thread, so taking the lock makes no system call) and
// sched_yield. Ids are never 0, so 0 always means free.

#ifndef QMDATA_SRC_MATHLA_LOCKWORD_H_
#define QMDATA_SRC_MATHLA_LOCKWORD_H_

#include <atomic>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace qmdata::detail {

#if defined(_WIN32)
// The calling thread's id; never 0.
int CurrentThreadId();
#else
// Fetches and caches the calling thread's id on its first lock.
int FetchThreadId();

// The calling thread's id, cached per thread (0 until fetched). Initial-exec
// TLS: one load relative to the thread pointer, no call on each lock.
#if defined(__GNUC__)
extern constinit thread_local int tls_thread_id  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
    __attribute__((tls_model("initial-exec")));
#else
extern constinit thread_local int tls_thread_id;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
#endif

// The calling thread's id; never 0.
inline int CurrentThreadId() {
  const int id = tls_thread_id;
  return id != 0 ? id : FetchThreadId();
}
#endif
// Gives up the rest of the calling thread's time slice.
void YieldSlice();

// Takes the lock word for the calling thread. Re-entrant without a depth
// count: the owner passes straight through.
#if defined(_WIN32)

static_assert(sizeof(LONG) == sizeof(int), "the lock word is 32 bits");

inline void LockWord(int* word) {
  const LONG self = static_cast<LONG>(CurrentThreadId());
  auto* lock = reinterpret_cast<volatile LONG*>(word);
  // The interlocked operations are full barriers.
  for (;;) {
    const LONG seen = InterlockedCompareExchange(lock, self, 0);
    if (seen == 0 || seen == self) return;
    YieldSlice();
  }
}

inline void UnlockWord(int* word) {
  InterlockedExchange(reinterpret_cast<volatile LONG*>(word), 0);
}

#else

// The lock word's two atomic operations. Acquire when the word is taken: the
// owner then sees every write the previous owner made before its release.
// Release when it is freed, whoever holds it: publishes the owner's writes (the
// shared count) to the next owner's acquire. libc++ has no std::atomic_ref
// before LLVM 19; there the compiler's atomic builtins (what std::atomic_ref is
// made of) do the same.
#if defined(__cpp_lib_atomic_ref)
inline bool TakeWord(int* word, int& expected, int self) {
  return std::atomic_ref<int>(*word).compare_exchange_strong(
      expected, self, std::memory_order_acquire, std::memory_order_relaxed);
}
inline void UnlockWord(int* word) {
  std::atomic_ref<int>(*word).exchange(0, std::memory_order_release);
}
#else
inline bool TakeWord(int* word, int& expected, int self) {
  return __atomic_compare_exchange_n(word, &expected, self, false,
                                     __ATOMIC_ACQUIRE, __ATOMIC_RELAXED);
}
inline void UnlockWord(int* word) {
  __atomic_exchange_n(word, 0, __ATOMIC_RELEASE);
}
#endif

inline void LockWord(int* word) {
  const int self = CurrentThreadId();
  int expected = 0;
  while (!TakeWord(word, expected, self)) {
    if (expected == self) return;  // already ours
    YieldSlice();
    expected = 0;
  }
}

#endif

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_MATHLA_LOCKWORD_H_
