// SPDX-License-Identifier: MIT
// Allocation-failure injection: every public operation that allocates runs
// with its 1st, 2nd, ... allocation failing, until it completes. For each
// failing allocation: nothing leaks (the tracker's count of live blocks), the
// documented exception comes out (std::bad_alloc from constructors and
// value-returning operators, the int -1 from records), and every object is
// left as documented; vectors that share a block with the one under test are
// never disturbed and the shared count stays exact.

#include <cstdio>
#include <functional>
#include <istream>
#include <new>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "drange/datarange.h"
#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

#include "alloc_tracker.h"
#include "record_support.h"
#include "stream_injection.h"
#include "vector_support.h"

namespace {

// Runs f with the k-th allocation failing: how f ended, and whether that
// allocation was made.
template <typename F>
std::pair<Outcome, bool> Attempt(long k, F&& f) {
  alloc_tracker::FailAllocation fail(k);
  const Outcome o = OutcomeOf(f);
  return {o, fail.fired()};
}

// Drives body(k, trace) through every failing allocation with a leak check
// for each; returns the number of allocation points.
long Inject(const char* what, const std::function<void(long)>& body) {
  const long points = alloc_tracker::ForEachAllocationFailure([&](long k) {
    SCOPED_TRACE(testing::Message() << what << ", allocation " << k);
    ExpectNoLeak<alloc_tracker::Scope>([&] { body(k); });
  });
  EXPECT_GE(points, 0) << what << " never completed";
  std::printf("  %-36s %ld allocation points\n", what, points);
  return points;
}

const int kRaw[] = {7, -3, 11, 0, 2147483647};
const std::vector<int> kRawInts(std::begin(kRaw), std::end(kRaw));

struct VectorOp {
  const char* name;
  Vec (*make)(Vec& a, Vec& b);
  bool allocates;
  bool initialised = true;  // false: a fresh block whose elements are unset
};

int g_mask[] = {1, 0, 1, 0, 1};
int g_view[] = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
const QmMathLA::rowcol<int> kView{2, 5, g_view};
const QmMathLA::matrix<int> kMatrix{5, 2, 0, g_view};

const VectorOp kVectorOps[] = {
    {"vector(count, src, 0)", [](Vec&, Vec&) { return Vec(5, kRaw, 0); }, true},
    {"vector(count, null, 1)", [](Vec&, Vec&) { return Vec(3, nullptr, 1); },
     true, false},
    {"vector(src, 1): deep copy", [](Vec& a, Vec&) { return Vec(a, 1); }, true},
    {"vector(src, 0): sharing copy", [](Vec& a, Vec&) { return Vec(a, 0); },
     false},
    {"vector(src, length, offset)", [](Vec& a, Vec&) { return Vec(a, 3, 1); },
     true},
    {"vector(rowcol)", [](Vec&, Vec&) { return Vec(kView); }, true},
    {"vector(src, mask)",
     [](Vec& a, Vec&) {
       Vec mask(5, g_mask, 1);  // adopted: allocates nothing
       return Vec(a, mask);
     },
     true},
    {"vector(src, empty mask)",
     [](Vec& a, Vec&) {
       Vec mask;
       return Vec(a, mask);
     },
     true},
    {"operator=",
     [](Vec& a, Vec&) {
       Vec r;
       r = a;
       return r;
     },
     false},
    {"a + b", [](Vec& a, Vec& b) { return a + b; }, true},
    {"a + rowcol", [](Vec& a, Vec&) { return a + kView; }, true},
    {"a - b", [](Vec& a, Vec& b) { return a - b; }, true},
    {"a - rowcol", [](Vec& a, Vec&) { return a - kView; }, true},
    {"a ^ b", [](Vec& a, Vec& b) { return a ^ b; }, true},
    {"a ^ rowcol", [](Vec& a, Vec&) { return a ^ kView; }, true},
    {"a * factor", [](Vec& a, Vec&) { return a * 3; }, true},
    {"a / divisor", [](Vec& a, Vec&) { return a / -1; }, true},
    {"a * matrix", [](Vec& a, Vec&) { return a * kMatrix; }, true},
};

TEST(AllocationInjection, VectorConstructorsAndOperators) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  for (const VectorOp& op : kVectorOps) {
    std::vector<int> expected;
    {
      SharedPair p(kRawInts);
      expected = Elements(op.make(p.a, p.b));
    }
    const long points = Inject(op.name, [&](long k) {
      SharedPair p(kRawInts);
      std::optional<Vec> r;
      const auto [o, fired] = Attempt(k, [&] { r.emplace(op.make(p.a, p.b)); });
      if (fired) {
        EXPECT_EQ(o, kBadAlloc);
        EXPECT_FALSE(r.has_value());
      } else {
        ASSERT_EQ(o, kCompleted);
        if (op.initialised) EXPECT_EQ(Elements(*r), expected);
        EXPECT_EQ(r->elems(), static_cast<int>(expected.size()));
        if (op.allocates) {
          EXPECT_EQ(SharedCount(*r), 1);
          EXPECT_NE(FieldsOf(*r).data, p.f.data);
        }
      }
      if (!op.allocates) r.reset();  // a sharer of p's block
      p.ExpectUndisturbed();
    });
    // Lock word, shared count, elements: three for every fresh block.
    if (op.allocates) {
      EXPECT_GE(points, 3) << op.name;
    } else {
      EXPECT_EQ(points, 0) << op.name;
    }
  }
}

// --- records ----------------------------------------------------------------

TEST(AllocationInjection, VectorStoreLeavesVectorAndWritesAPrefix) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  for (bool compressed : {false, true}) {
    std::string full;
    {
      SharedPair p(kRawInts);
      full = Serialized(p.a, compressed);
    }
    const char* name =
        compressed ? "Serialize store (compressed)" : "Serialize store (plain)";
    const long points = Inject(name, [&](long k) {
      SharedPair p(kRawInts);
      LimitedSink sink(4096);
      std::ostream os(&sink);
      QmRTArchive ar(os);
      const auto [o, fired] =
          Attempt(k, [&] { p.a.Serialize(ar, compressed); });
      EXPECT_EQ(o, fired ? kMinusOne : kCompleted);
      const std::string got = sink.written();
      EXPECT_EQ(got, fired ? full.substr(0, got.size()) : full);
      p.ExpectUndisturbed();
    });
    EXPECT_EQ(points > 0, compressed);
  }
}

TEST(AllocationInjection, VectorLoadFailsWithoutTouchingTheVector) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  const std::vector<int> stored = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  for (bool compressed : {false, true}) {
    const std::string record = Record(stored, compressed);
    const char* name =
        compressed ? "Serialize load (compressed)" : "Serialize load (plain)";
    const long points = Inject(name, [&](long k) {
      SharedPair p(kRawInts);
      PieceSource src(record, record.size());
      std::istream is(&src);
      QmRTArchive ar(is);
      const auto [o, fired] =
          Attempt(k, [&] { p.a.Serialize(ar, compressed); });
      if (fired) {
        EXPECT_EQ(o, kMinusOne);
        p.ExpectUndisturbed();
      } else {
        ASSERT_EQ(o, kCompleted);
        p.ExpectReplaced(stored);
      }
    });
    EXPECT_GE(points, 3);
  }
}

TEST(AllocationInjection, SliceAndRangeLoadAndStore) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  const int vars[] = {2, 7, 11};
  QmDataSlice stored(Vec(3, vars, 0), 5, 10);
  const std::string record = Stored(stored);
  // Loading into a slice whose list shares a block with another slice.
  Inject("QmDataSlice load", [&](long k) {
    QmDataSlice target(Vec(5, kRaw, 0), 1, 2);
    QmDataSlice peer(target, 0);
    PieceSource src(record, record.size());
    std::istream is(&src);
    QmRTArchive ar(is);
    const auto [o, fired] = Attempt(k, [&] { ar >> target; });
    if (fired) {
      EXPECT_EQ(o, kMinusOne);
      EXPECT_EQ(Elements(target.vars()), kRawInts);
      EXPECT_EQ(FieldsOf(target.vars()).data, FieldsOf(peer.vars()).data);
      EXPECT_EQ(SharedCount(peer.vars()), 2);
      EXPECT_EQ(target.range(), QmDataRange(1, 2));
    } else {
      ASSERT_EQ(o, kCompleted);
      EXPECT_TRUE(target == stored);
      EXPECT_EQ(SharedCount(peer.vars()), 1);
      EXPECT_EQ(Elements(peer.vars()), kRawInts);
    }
  });
  // Storing a slice, and the range and quality-tag records both ways,
  // allocate nothing.
  LimitedSink sink(4096);
  std::ostream os(&sink);
  QmRTArchive out(os);
  QmDataRange range(3, 4), range_in;
  qmo_qualtag tag = qmo_qual_good, tag_in = qmo_qual_bad;
  const std::string rest = Stored(range) + Stored(tag);
  PieceSource src(rest, rest.size());
  std::istream is(&src);
  QmRTArchive in(is);
  const alloc_tracker::Scope scope;
  out << stored << range << tag;
  in >> range_in >> tag_in;
  EXPECT_EQ(scope.allocated(), 0);
  EXPECT_EQ(sink.written(), record + rest);
  EXPECT_EQ(range_in, range);
  EXPECT_EQ(tag_in, qmo_qual_good);
}

TEST(AllocationInjection, SliceConstructorsLeaveTheirSourcesShared) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  for (int flag : {-1, 0, 1}) {  // -1: from a vector
    const char* name = flag < 0    ? "QmDataSlice(vars, start, length)"
                       : flag == 0 ? "QmDataSlice(other, 0)"
                                   : "QmDataSlice(other, 1)";
    const long points = Inject(name, [&](long k) {
      SharedPair p(kRawInts);
      QmDataSlice other(Vec(5, kRaw, 0), 4, 6);
      QmDataSlice peer(other, 0);
      std::optional<QmDataSlice> s;
      const auto [o, fired] = Attempt(k, [&] {
        if (flag < 0) {
          s.emplace(p.a, 4, 6);
        } else {
          s.emplace(other, flag);
        }
      });
      EXPECT_EQ(o, fired ? kBadAlloc : kCompleted);
      EXPECT_EQ(s.has_value(), !fired);
      if (s) EXPECT_TRUE(*s == other);
      s.reset();
      p.ExpectUndisturbed();
      EXPECT_EQ(SharedCount(other.vars()), 2);
      EXPECT_EQ(FieldsOf(other.vars()).data, FieldsOf(peer.vars()).data);
    });
    EXPECT_EQ(points, flag == 0 ? 0 : 3);
  }
}

TEST(AllocationInjection, CompressionReportsFalseAndKeepsItsOutputs) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  const std::string raw(1000, 'q');
  std::string packed = Packed(raw);
  ASSERT_FALSE(packed.empty());
  for (bool compress : {true, false}) {
    const char* name = compress ? "CZLibCompression::Compress"
                                : "CZLibCompression::Decompress";
    Inject(name, [&](long k) {
      std::optional<CZLibCompression> z;
      unsigned long len = 12345;
      void* out = &len;
      bool ok = false;
      const auto [o, fired] = Attempt(k, [&] {
        z.emplace();
        ok = compress ? z->Compress(raw.data(), raw.size(), len, &out)
                      : z->Decompress(packed.data(), packed.size(), raw.size(),
                                      &out);
      });
      if (o == kBadAlloc) {
        EXPECT_TRUE(fired);  // the constructor
        EXPECT_FALSE(z.has_value());
        return;
      }
      ASSERT_EQ(o, kCompleted);
      EXPECT_EQ(ok, !fired);
      if (!ok) {
        EXPECT_EQ(len, 12345u);
        EXPECT_EQ(out, &len);
        return;
      }
      const std::string got(static_cast<const char*>(out),
                            compress ? len : raw.size());
      EXPECT_EQ(got, compress ? packed : raw);
    });
  }
}

}  // namespace
