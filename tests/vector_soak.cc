// SPDX-License-Identifier: MIT
// Concurrency soak of the shared block's count and lock, for long runs under
// ThreadSanitizer (fuzz/run campaign); not part of the normal test run.
//
//   vector_soak [SECONDS [THREADS]]     default 60 s, 8 threads
//
// Every thread applies random operations (sharing copies, assignments from
// its own vectors, from four shared roots and through mailboxes between
// threads, destruction, unhook, deep copies, views, sub-ranges, operators,
// plain and compressed loads) to eight vectors of its own, and checks after
// each that the elements still count up by one. At the end each root's
// count is exactly 1 (-1 once unhooked), every block is freed, and each
// root's blocks are freed exactly once (its elements never, once unhooked).

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mathla/vector.h"
#include "rtarchive/archive.h"

#include "alloc_tracker.h"
#include "record_data.h"
#include "vector_support.h"

namespace {

constexpr int kRoots = 4;
constexpr int kSlots = 8;
constexpr int kMailboxes = 4;
constexpr int kElems = 48;

enum Op {
  kCopy,
  kAssign,
  kAssignRoot,
  kDestroy,
  kUnhook,
  kDeepCopy,
  kView,
  kSubRange,
  kOperator,
  kLoadPlain,
  kLoadCompressed,
  kPost,
  kTake,
  kOps
};
const char* const kOpNames[kOps] = {
    "copy",      "assign",      "assign root", "destroy",  "unhook",
    "deep copy", "view",        "sub-range",   "operator", "load plain",
    "load zip",  "mailbox put", "mailbox take"};

Vec* g_roots[kRoots];
std::string g_records[kRoots][2];  // plain, compressed

struct Mailbox {
  std::mutex mu;
  Vec v;
};
Mailbox g_mailboxes[kMailboxes];

std::mutex g_unhooked_mu;
std::vector<int*>* g_unhooked;

std::atomic<bool> g_stop{false};
std::atomic<long> g_bad{0};
std::atomic<long> g_counts[kOps];

// dst = src, or a new sharer of src when dst holds nothing.
void Assign(std::optional<Vec>& dst, const Vec& src) {
  if (dst) {
    *dst = src;
  } else {
    dst.emplace(src);
  }
}

// Every block's elements count up by one.
void Check(const std::optional<Vec>& v) {
  if (!v || v->elems() == 0) return;
  const int n = v->elems();
  const int first = (*v)[0];
  if ((*v)[n - 1] != first + n - 1 || (*v)[n / 2] != first + n / 2) {
    g_bad.fetch_add(1);
  }
}

void Worker(unsigned seed) {
  std::minstd_rand rng(seed);
  std::optional<Vec> slot[kSlots];
  for (int i = 0; i < kSlots; ++i) slot[i].emplace(*g_roots[i % kRoots]);
  long counts[kOps] = {};
  int unhooks = 0;
  while (!g_stop.load(std::memory_order_relaxed)) {
    for (int step = 0; step < 64; ++step) {
      const unsigned r = static_cast<unsigned>(rng());
      const int op = static_cast<int>(r % kOps);
      const int i = static_cast<int>((r >> 8) % kSlots);
      int j = static_cast<int>((r >> 12) % kSlots);
      if (j == i) j = (j + 1) % kSlots;  // never build a vector from itself
      const int root = static_cast<int>((r >> 16) % kRoots);
      std::optional<Vec>& dst = slot[i];
      const Vec empty;
      const Vec& src = slot[j] ? *slot[j] : empty;
      switch (op) {
        case kCopy: {
          Vec copy(src);
          dst.emplace(copy);
          break;
        }
        case kAssign:
          Assign(dst, src);
          break;
        case kAssignRoot:
          Assign(dst, *g_roots[root]);
          break;
        case kDestroy:
          dst.reset();
          break;
        case kUnhook:
          // Rarely: every unhooked array stays allocated until the end.
          if ((r >> 20) % 16 != 0 || !dst || unhooks >= 4096) continue;
          if (int* p = dst->unhook()) {
            ++unhooks;
            std::lock_guard<std::mutex> lock(g_unhooked_mu);
            g_unhooked->push_back(p);
          }
          break;
        case kDeepCopy:
          dst.emplace(src, 1);
          break;
        case kView:
          if (src.elems() > 0) {
            dst.emplace(QmMathLA::rowcol<int>{1, src.elems(), &src[0]});
          }
          break;
        case kSubRange:
          dst.emplace(src, src.elems() / 2, static_cast<int>((r >> 20) % 8));
          break;
        case kOperator: {
          Vec v(src);
          dst.emplace(v * 1);
          break;
        }
        case kLoadPlain:
        case kLoadCompressed: {
          const bool zip = op == kLoadCompressed;
          std::istringstream is(g_records[root][zip ? 1 : 0]);
          QmRTArchive ar(is);
          if (!dst) dst.emplace(*g_roots[(root + 1) % kRoots]);
          try {
            dst->Serialize(ar, zip);
          } catch (...) {
            g_bad.fetch_add(1);
          }
          break;
        }
        case kPost: {
          Mailbox& m = g_mailboxes[root];
          std::lock_guard<std::mutex> lock(m.mu);
          m.v = src;
          break;
        }
        case kTake: {
          Mailbox& m = g_mailboxes[root];
          std::lock_guard<std::mutex> lock(m.mu);
          Assign(dst, m.v);
          break;
        }
      }
      ++counts[op];
      Check(dst);
    }
  }
  for (int k = 0; k < kOps; ++k) g_counts[k].fetch_add(counts[k]);
}

int Fail(const char* what) {
  std::fprintf(stderr, "vector_soak: FAILED: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const int threads = argc > 2 ? std::atoi(argv[2]) : 8;
  if (seconds <= 0 || threads <= 0) {
    std::fprintf(stderr, "usage: vector_soak [SECONDS [THREADS]]\n");
    return 2;
  }
  int failures = 0;
  const alloc_tracker::Scope scope;
  {
    std::vector<int*> unhooked;
    g_unhooked = &unhooked;
    std::vector<const void*> watch;
    for (int r = 0; r < kRoots; ++r) {
      int raw[kElems];
      for (int e = 0; e < kElems; ++e) raw[e] = 1000 * (r + 1) + e;
      g_roots[r] = new Vec(kElems, raw, 0);
      for (int zip = 0; zip < 2; ++zip) {
        g_records[r][zip] = Record({raw, raw + kElems}, zip != 0);
      }
      const VectorFields f = FieldsOf(*g_roots[r]);
      watch.insert(watch.end(), {f.data, f.refs, f.lock});
    }
    alloc_tracker::WatchBlocks({watch[0], watch[1], watch[2], watch[3],
                                watch[4], watch[5], watch[6], watch[7],
                                watch[8], watch[9], watch[10], watch[11]});

    const auto t0 = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(Worker, 17u + t);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    g_stop.store(true);
    for (auto& th : pool) th.join();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0)
            .count();
    for (Mailbox& m : g_mailboxes) m.v = Vec();

    long total = 0;
    for (const auto& c : g_counts) total += c.load();
    std::printf("vector_soak: %d threads, %.1f s, %ld operations (%.0f/s)\n",
                threads, elapsed, total, total / elapsed);
    for (int k = 0; k < kOps; ++k) {
      std::printf("  %-13s %ld\n", kOpNames[k], g_counts[k].load());
    }
    std::printf("  unhooked arrays %zu\n", unhooked.size());
    if (g_bad.load() != 0) failures += Fail("elements read wrong");

    int roots_unhooked = 0;
    for (int r = 0; r < kRoots; ++r) {
      const VectorFields f = FieldsOf(*g_roots[r]);
      const bool root_unhooked = *f.refs < 0;
      roots_unhooked += root_unhooked;
      if (*f.refs != 1 && *f.refs != -1) failures += Fail("root count inexact");
      if (*f.lock != 0) failures += Fail("root lock word left taken");
      for (int k = 0; k < 3; ++k) {
        if (alloc_tracker::block_releases[3 * r + k].load() != 0) {
          failures += Fail("root block freed while held");
        }
      }
      delete g_roots[r];
      const long data = alloc_tracker::block_releases[3 * r].load();
      if (data != (root_unhooked ? 0 : 1)) {
        failures += Fail("root elements not freed exactly once");
      }
      if (alloc_tracker::block_releases[3 * r + 1].load() != 1 ||
          alloc_tracker::block_releases[3 * r + 2].load() != 1) {
        failures += Fail("root count or lock word not freed exactly once");
      }
    }
    for (int* p : unhooked) delete[] p;
    for (auto& records : g_records) {
      for (std::string& rec : records) std::string().swap(rec);
    }
    std::printf("  roots unhooked  %d of %d\n", roots_unhooked, kRoots);
  }
  if (kAllocationsTracked && scope.allocated() != scope.released()) {
    failures += Fail("blocks left allocated");
  }
  std::printf("vector_soak: %s\n", failures == 0 ? "ok" : "FAILED");
  return failures == 0 ? 0 : 1;
}
