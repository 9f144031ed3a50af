// SPDX-License-Identifier: MIT
// Test support for archive records: the bytes that the archive writes for
// ints and strings, checked-in fixtures, and the int that records throw.
// The element patterns and vector records come from record_data.h.

#ifndef QMDATA_TESTS_RECORD_SUPPORT_H_
#define QMDATA_TESTS_RECORD_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drange/datarange.h"
#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "rtarchive/archive.h"

#include "record_data.h"
#include "vector_support.h"

// Makes an archive take the int-array paths of a host whose ints are not
// least significant byte first.
struct QmRTArchiveTestAccess {
  static void ConvertInts(QmRTArchive& ar) { ar.m_convert_ints = true; }
};

// The bytes of the given ints as the archive writes them: 4 bytes each,
// least significant first.
inline std::string Ints(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) {
    for (int shift = 0; shift < 32; shift += 8) {
      out.push_back(static_cast<char>(static_cast<std::uint32_t>(v) >> shift));
    }
  }
  return out;
}

// An archive string: a 4-byte length, then the bytes.
inline std::string Str(const std::string& s) {
  return Ints({static_cast<int>(s.size())}) + s;
}

// The contents of tests/data/<name>.
inline std::string ReadFixture(const char* name) {
  std::ifstream f(std::string(QMDATA_TEST_DATA_DIR) + "/" + name,
                  std::ios::binary);
  EXPECT_TRUE(f.good()) << name;
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The bytes a non-const value stores through the operators of the records.
template <typename T>
std::string Stored(T value) {
  std::ostringstream os;
  QmRTArchive out(os);
  out << value;
  return os.str();
}

// Runs f and expects it to release every block it allocates, as Tracker
// counts them: alloc_tracker::Scope, named by the caller because only one
// file of a program includes alloc_tracker.h. A test failure reported
// meanwhile keeps its message allocated, so the count is then left out.
template <typename Tracker, typename F>
void ExpectNoLeak(F&& f) {
  const testing::TestResult* result =
      testing::UnitTest::GetInstance()->current_test_info()->result();
  const int reported = result->total_part_count();
  const Tracker scope;
  f();
  if (result->total_part_count() == reported) {
    EXPECT_EQ(scope.allocated(), scope.released()) << "leak";
  }
}

// Loads one record of the kind ("vector", "vector:z" for compressed,
// "range", "slice", else the quality tag) and returns its values: the
// elements; start and length; the list's size, its elements, start and
// length; the tag.
inline std::vector<int> LoadRecord(const std::string& kind, QmRTArchive& ar) {
  if (kind == "vector" || kind == "vector:z") {
    Vec v;
    v.Serialize(ar, kind == "vector:z");
    return Elements(v);
  }
  if (kind == "range") {
    QmDataRange r;
    ar >> r;
    return {r.start(), r.length()};
  }
  if (kind == "slice") {
    QmDataSlice s;
    ar >> s;
    std::vector<int> out{s.vars().elems()};
    for (int e : Elements(s.vars())) out.push_back(e);
    out.insert(out.end(), {s.range().start(), s.range().length()});
    return out;
  }
  qmo_qualtag tag = qmo_qual_bad;
  ar >> tag;
  return {static_cast<int>(tag)};
}

// A block of `old` elements held by two sharers: a is the one a failed
// operation must leave alone, or a load replaces; b must keep the block.
struct SharedPair {
  explicit SharedPair(const std::vector<int>& elements)
      : old(elements), a(Make(old)), b(a), f(FieldsOf(a)) {}

  // Both still share the old block, count 2, lock free.
  void ExpectUndisturbed() const {
    for (const Vec* v : {&a, &b}) {
      const VectorFields g = FieldsOf(*v);
      EXPECT_EQ(g.n, static_cast<int>(old.size()));
      EXPECT_EQ(g.data, f.data) << "vector changed";
      EXPECT_EQ(g.refs, f.refs);
      EXPECT_EQ(g.lock, f.lock);
    }
    EXPECT_EQ(SharedCount(a), 2);
    EXPECT_EQ(*f.lock, 0);
    EXPECT_EQ(Elements(b), old);
  }
  // After a successful load into a: a has a block of its own, b the old one.
  void ExpectReplaced(const std::vector<int>& loaded) const {
    EXPECT_EQ(Elements(a), loaded);
    EXPECT_EQ(SharedCount(a), loaded.empty() ? 0 : 1);
    EXPECT_NE(FieldsOf(a).data, f.data);
    EXPECT_EQ(FieldsOf(b).data, f.data);
    EXPECT_EQ(SharedCount(b), 1);
    EXPECT_EQ(Elements(b), old);
  }

  std::vector<int> old;
  Vec a;
  Vec b;
  VectorFields f;
};

#endif  // QMDATA_TESTS_RECORD_SUPPORT_H_
