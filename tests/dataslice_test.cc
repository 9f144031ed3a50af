// SPDX-License-Identifier: MIT
// QmDataSlice: construction and sharing of the list, copy against
// assignment, equality and order, Clear, the text line and the slice record.

#include "drange/dataslice.h"

#include <climits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "rtarchive/archive.h"

#include "record_support.h"
#include "vector_support.h"

namespace {

// Loads into s a record with the given list and range fields; the only way
// to get a range with a negative start or length into a slice. (Returning the
// slice by value could copy it, and a copy normalises the range.)
void LoadInto(QmDataSlice& s, std::initializer_list<int> vars, int start,
              int length) {
  std::istringstream is(Ints({1}) + Record(vars, false) +
                        Ints({1, start, length}));
  QmRTArchive in(is);
  in >> s;
}

}  // namespace

TEST(DataSlice, DefaultIsAllVariablesOverOneSample) {
  QmDataSlice s;
  EXPECT_EQ(s.vars().elems(), 0);
  EXPECT_EQ(s.range(), QmDataRange(0, 1));
  EXPECT_EQ(Printed(s, -1), "Start:\t     0\tLength:\t     1\tVars:\t<all>\n");
  EXPECT_TRUE(s == QmDataSlice() && !(s != QmDataSlice()));
}

TEST(DataSlice, ConstructorDeepCopiesListAndNormalisesRange) {
  Vec source = Make({3});
  QmDataSlice s(source, -2, -7);
  EXPECT_EQ(s.range(), QmDataRange(0, 1));
  ASSERT_EQ(s.vars().elems(), 1);
  EXPECT_EQ(s.vars()[0], 3);
  source[0] = 99;  // the slice's list has a block of its own
  EXPECT_EQ(s.vars()[0], 3);

  QmDataSlice empty(Vec(), 0, 0);
  EXPECT_EQ(empty.vars().elems(), 0);
  EXPECT_EQ(empty.range(), QmDataRange(0, 0));
}

TEST(DataSlice, CopyFlagSharesOrDeepCopies) {
  QmDataSlice original(Make({1, 2, 3}), 5, 10);
  QmDataSlice shared(original);   // flag 0: one block
  QmDataSlice deep(original, 1);  // own block
  shared.vars()[1] = 20;
  EXPECT_EQ(original.vars()[1], 20);
  EXPECT_EQ(deep.vars()[1], 2);
  deep.vars()[0] = 10;
  EXPECT_EQ(original.vars()[0], 1);
  EXPECT_EQ(shared.range(), QmDataRange(5, 10));
  EXPECT_EQ(deep.range(), QmDataRange(5, 10));

  // The list outlives the slice it was shared from.
  auto* heap = new QmDataSlice(original);
  QmDataSlice survivor(*heap);
  delete heap;
  original.Clear();
  EXPECT_EQ(survivor.vars()[1], 20);
}

TEST(DataSlice, CopyNormalisesWhileAssignmentDoesNot) {
  QmDataSlice source;
  LoadInto(source, {1, 2}, -5, -3);
  EXPECT_EQ(source.range().start(), -5);
  EXPECT_EQ(source.range().length(), -3);

  QmDataSlice copied(source);
  EXPECT_EQ(copied.range(), QmDataRange(0, 1));
  QmDataSlice deep_copied(source, 1);
  EXPECT_EQ(deep_copied.range(), QmDataRange(0, 1));

  QmDataSlice assigned(Make({9}), 1, 1);
  assigned = source;
  EXPECT_EQ(assigned.range().start(), -5);
  EXPECT_EQ(assigned.range().length(), -3);
  assigned.vars()[0] = 7;  // assignment shares the list
  EXPECT_EQ(source.vars()[0], 7);

  QmDataSlice& self = assigned;
  assigned = self;
  EXPECT_EQ(assigned.range().start(), -5);
  ASSERT_EQ(assigned.vars().elems(), 2);
  EXPECT_EQ(assigned.vars()[0], 7);
  EXPECT_EQ(source.vars()[0], 7);
}

TEST(DataSlice, ClearEmptiesListAndNormalisesRange) {
  QmDataSlice negative;
  LoadInto(negative, {1, 2}, -5, -3);
  negative.Clear();
  EXPECT_EQ(negative.vars().elems(), 0);
  EXPECT_EQ(negative.range(), QmDataRange(0, 1));

  QmDataSlice s(Make({1, 2}), 5, 10);
  QmDataSlice sharer(s);
  s.Clear();
  EXPECT_EQ(s.vars().elems(), 0);
  EXPECT_EQ(s.range(), QmDataRange(5, 10));
  ASSERT_EQ(sharer.vars().elems(), 2);  // the other sharer keeps the block
  EXPECT_EQ(sharer.vars()[1], 2);
  s.Clear();
  EXPECT_EQ(s, QmDataSlice(Vec(), 5, 10));
}

TEST(DataSlice, EqualityNeedsSameListInOrderAndSameRange) {
  QmDataSlice a(Make({1, 2}), 5, 10), c(Make({1, 2}), 5, 10);
  QmDataSlice swapped(Make({2, 1}), 5, 10), prefix(Make({1}), 5, 10);
  QmDataSlice other_range(Make({1, 2}), 5, 11), all(Vec(), 5, 10);
  EXPECT_TRUE(a == c && !(a != c));
  EXPECT_TRUE(a != swapped && a != prefix && a != other_range);
  EXPECT_TRUE(a != all && all != a);
  // Order looks at the ranges only.
  EXPECT_FALSE(a < swapped || a > swapped);
  EXPECT_TRUE(a < other_range && other_range > a);
  QmDataSlice later(Make({0}), 6, 0);
  EXPECT_TRUE(all < later && !(later < all));
}

TEST(DataSlice, PrintLayouts) {
  QmDataSlice s(Make({2, 7, 11}), 5, 10);
  EXPECT_EQ(Printed(s, -1),
            "Start:\t     5\tLength:\t    10\tVars:\t  2\t  7\t 11\n");
  EXPECT_EQ(Printed(s, 4),
            "Start:\t   5\tLength:\t  10\tVars:\t   2\t   7\t  11\n");
  EXPECT_EQ(Printed(s, 0), "Start:\t5\tLength:\t10\tVars:\t2\t7\t11\n");
  EXPECT_EQ(Printed(s, -3), "Start:\t5\tLength:\t10\tVars:\t2\t7\t11\n");
  QmDataSlice all(Vec(), 5, 10);
  EXPECT_EQ(Printed(all, -1),
            "Start:\t     5\tLength:\t    10\tVars:\t<all>\n");
  EXPECT_EQ(Printed(all, 2), "Start:\t 5\tLength:\t10\tVars:\t<all>\n");
  EXPECT_EQ(Printed(s), Printed(s, -1));

  // Stream settings are used, not changed.
  std::ostringstream left;
  left << std::left;
  left.fill('.');
  s.Print(left, 3);
  EXPECT_EQ(left.str(), "Start:\t5..\tLength:\t10.\tVars:\t2..\t7..\t11.\n");
  EXPECT_EQ(left.fill(), '.');
  EXPECT_TRUE(left.flags() & std::ios::left);
}

TEST(DataSlice, StoresRecordBytes) {
  QmDataSlice s(Make({2, 7, 11}), 5, 10);
  const std::string expected = ReadFixture("slice_2_7_11.bin");
  ASSERT_EQ(expected, Ints({1}) + Record({2, 7, 11}, false) + Ints({1, 5, 10}));
  std::ostringstream os;
  QmRTArchive out(os);
  out << s;
  EXPECT_EQ(os.str(), expected);
  out >> s;  // the storing archive decides: this writes again
  EXPECT_EQ(os.str(), expected + expected);

  std::ostringstream all_os;
  QmRTArchive all_out(all_os);
  QmDataSlice all;
  all_out << all;
  EXPECT_EQ(all_os.str(), Ints({1}) + Record({}, false) + Ints({1, 0, 1}));
}

TEST(DataSlice, LoadsFixtureIntoFreshList) {
  std::istringstream is(ReadFixture("slice_2_7_11.bin"));
  QmRTArchive in(is);
  QmDataSlice s(Make({4, 4, 4, 4}), 1, 2);
  QmDataSlice sharer(s);
  in << s;  // << on a loading archive reads
  EXPECT_EQ(s, QmDataSlice(Make({2, 7, 11}), 5, 10));
  ASSERT_EQ(sharer.vars().elems(), 4);  // the old block stays with the sharer
  EXPECT_EQ(sharer.vars()[0], 4);
  s.vars()[0] = 3;
  EXPECT_EQ(sharer.vars()[0], 4);
  EXPECT_EQ(is.tellg(), static_cast<std::streamoff>(is.str().size()));
}

// Versions above 1 are refused before anything else is read.
TEST(DataSlice, LoadChecksVersion) {
  for (int version : {2, INT_MAX, 1, 0, -1}) {
    const std::string bytes =
        Ints({version}) + Record({2, 7}, false) + Ints({1, 5, 10});
    std::istringstream is(bytes);
    QmRTArchive in(is);
    QmDataSlice s(Make({8, 9}), 3, 4);
    const bool ok = version <= 1;
    EXPECT_EQ(OutcomeOf([&] { in >> s; }), ok ? kCompleted : kMinusOne);
    EXPECT_EQ(is.tellg(), ok ? static_cast<std::streamoff>(bytes.size()) : 4);
    EXPECT_EQ(s, ok ? QmDataSlice(Make({2, 7}), 5, 10)
                    : QmDataSlice(Make({8, 9}), 3, 4))
        << version;
  }
}

// (Cut records, the range's included, are StreamInjection.SliceRecord's.)
TEST(DataSlice, FailureInsideRangeKeepsLoadedList) {
  std::istringstream is(Ints({1}) + Record({2, 7, 11}, false) +
                        Ints({2, 5, 10}));  // range version 2
  QmRTArchive in(is);
  QmDataSlice s(Make({8}), 3, 4);
  EXPECT_EQ(OutcomeOf([&] { in >> s; }), kMinusOne);
  EXPECT_EQ(s, QmDataSlice(Make({2, 7, 11}), 3, 4));
}

TEST(DataSlice, BadListRecordThrowsMinusOne) {
  const std::string bad_lists[] = {
      Str("<startvector>") + Ints({1, 1, 2}) + Str("<EndVector>"),
      Str("<StartVector>") + Ints({1, 1000000}),  // truncated elements
      Str(std::string(40, 'x')),                  // a tag too long
  };
  for (const std::string& list : bad_lists) {
    std::istringstream is(Ints({1}) + list + Ints({1, 5, 10}));
    QmRTArchive in(is);
    QmDataSlice s(Make({8}), 3, 4);
    EXPECT_EQ(OutcomeOf([&] { in >> s; }), kMinusOne);
    EXPECT_EQ(s.range(), QmDataRange(3, 4));  // the range was not reached
  }
}
