// SPDX-License-Identifier: MIT
#include "mathla/lockword.h"

#if !defined(_WIN32)
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace qmdata::detail {

#if defined(_WIN32)

int CurrentThreadId() { return static_cast<int>(GetCurrentThreadId()); }

void YieldSlice() { SwitchToThread(); }

#else

// Per-thread cache written once by its own thread.
constinit thread_local int tls_thread_id = 0;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

int FetchThreadId() {
#if defined(SYS_gettid)
  // The kernel's thread id; the C library's wrapper is newer than ours.
  int id = static_cast<int>(syscall(SYS_gettid));  // NOLINT(cppcoreguidelines-pro-type-vararg)
#else
  static std::atomic<int> next{1};
  int id = next.fetch_add(1, std::memory_order_relaxed);
#endif
  if (id == 0) id = -1;  // 0 means free; no live thread has id 0 anyway
  tls_thread_id = id;
  return id;
}

void YieldSlice() { sched_yield(); }

#endif

}  // namespace qmdata::detail
