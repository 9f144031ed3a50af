// SPDX-License-Identifier: MIT
// QmDataRange: normalisation, order, the text line and the range record.

#include "drange/datarange.h"

#include <climits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "rtarchive/archive.h"

#include "record_support.h"

TEST(DataRange, ConstructorNormalises) {
  EXPECT_EQ(QmDataRange(), QmDataRange(0, 1));
  const QmDataRange zero(0, 0), negative(-3, -1), lowest(INT_MIN, INT_MIN);
  EXPECT_EQ(zero.start(), 0);
  EXPECT_EQ(zero.length(), 0);  // a length of 0 stays 0
  EXPECT_EQ(negative.start(), 0);
  EXPECT_EQ(negative.length(), 1);  // a negative length becomes 1, not 0
  EXPECT_EQ(lowest.start(), 0);
  EXPECT_EQ(lowest.length(), 1);
  const QmDataRange one(1, 0);
  EXPECT_EQ(one.location(), 1);
  EXPECT_EQ(one.length(), 0);
}

TEST(DataRange, EndWrapsInsteadOfOverflowing) {
  EXPECT_EQ(QmDataRange(5, 10).end(), 14);
  EXPECT_EQ(QmDataRange(0, 0).end(), -1);
  EXPECT_EQ(QmDataRange(INT_MAX, 1).end(), INT_MAX);
  EXPECT_EQ(QmDataRange(INT_MAX, 2).end(), INT_MIN);
}

TEST(DataRange, OrderIsStartThenLength) {
  const QmDataRange a(5, 10), longer(5, 11), later(6, 0), same(5, 10);
  EXPECT_TRUE(a < longer && longer > a);
  EXPECT_TRUE(a < later && later > a);  // the end plays no part
  EXPECT_FALSE(later < a || a > later);
  EXPECT_TRUE(a == same && !(a != same) && a != longer);
  EXPECT_FALSE(a < same || a > same);
  EXPECT_TRUE(a <= same && a >= same);
  EXPECT_TRUE(a <= later && !(a >= later));
  EXPECT_TRUE(later >= a && !(later <= a));
}

TEST(DataRange, PrintLayouts) {
  QmDataRange r(5, 10);
  EXPECT_EQ(Printed(r, -1), "Start:     5  Length:    10\n");
  EXPECT_EQ(Printed(r, 3), "Start:  5\tLength: 10\n");
  EXPECT_EQ(Printed(r, 0), "Start:5\tLength:10\n");
  EXPECT_EQ(Printed(r, -2), "Start:5\tLength:10\n");
  QmDataRange big(1234567, 0);  // longer than its field: written whole
  EXPECT_EQ(Printed(big, -1), "Start:1234567  Length:     0\n");
  EXPECT_EQ(Printed(r), Printed(r, -1));

  // The stream's own settings apply and are left as they were.
  std::ostringstream hex;
  hex << std::left << std::hex;
  hex.fill('*');
  r.Print(hex, 4);
  EXPECT_EQ(hex.str(), "Start:5***\tLength:a***\n");
  EXPECT_EQ(hex.fill(), '*');
  EXPECT_TRUE((hex.flags() & std::ios::left) && (hex.flags() & std::ios::hex));
}

TEST(DataRange, RecordBytesAndArchiveChoosesDirection) {
  QmDataRange r(5, 10);
  std::ostringstream os;
  QmRTArchive out(os);
  out << r;
  EXPECT_EQ(os.str(), ReadFixture("range_5_10.bin"));
  out >> r;  // >> on a storing archive writes too
  EXPECT_EQ(os.str(), ReadFixture("range_5_10.bin") + Ints({1, 5, 10}));

  std::istringstream is(ReadFixture("range_5_10.bin"));
  QmRTArchive in(is);
  QmDataRange loaded;
  in << loaded;  // << on a loading archive reads
  EXPECT_EQ(loaded, QmDataRange(5, 10));
}

TEST(DataRange, LoadsNegativeFieldsAsStored) {
  std::istringstream is(Ints({1, -5, -3}));
  QmRTArchive in(is);
  QmDataRange loaded(7, 7);
  in >> loaded;
  EXPECT_EQ(loaded.start(), -5);
  EXPECT_EQ(loaded.length(), -3);
  EXPECT_EQ(loaded.end(), -9);
  // Copies and assignment keep the values; only the constructor from start
  // and length normalises.
  QmDataRange copy(loaded);
  QmDataRange assigned;
  assigned = loaded;
  EXPECT_EQ(copy, loaded);
  EXPECT_EQ(assigned, loaded);
  EXPECT_NE(assigned, QmDataRange(-5, -3));
  EXPECT_EQ(Printed(assigned, -1), "Start:    -5  Length:    -3\n");
}

// Versions above 1 are refused before anything else is read.
TEST(DataRange, LoadChecksVersion) {
  for (int version : {2, INT_MAX, 1, 0, -1, INT_MIN}) {
    std::istringstream is(Ints({version, 8, 9}));
    QmRTArchive in(is);
    QmDataRange r(3, 4);
    const bool ok = version <= 1;
    EXPECT_EQ(OutcomeOf([&] { in >> r; }), ok ? kCompleted : kMinusOne);
    EXPECT_EQ(r, ok ? QmDataRange(8, 9) : QmDataRange(3, 4)) << version;
    EXPECT_EQ(is.tellg(), ok ? 12 : 4);
  }
}
