// QmDataRange: normalisation, order, the text line and the range record.

#include "drange/datarange.h"

#include <climits>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "rtarchive/archive.h"

namespace {

// The bytes of the given ints as the archive writes them: 4 each,
// least significant first.
std::string Ints(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8) {
      out.push_back(static_cast<char>((u >> shift) & 0xFF));
    }
  }
  return out;
}

std::string ReadFixture(const char* name) {
  std::ifstream f(std::string(QMDATA_TEST_DATA_DIR) + "/" + name,
                  std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The int thrown by f, or 0 when it returns normally.
template <typename F>
int ThrownInt(F f) {
  try {
    f();
  } catch (int e) {
    return e;
  }
  return 0;
}

std::string Printed(QmDataRange& range, int width) {
  std::ostringstream os;
  range.Print(os, width);
  return os.str();
}

}  // namespace

TEST(DataRange, ConstructorNormalises) {
  QmDataRange def;
  EXPECT_EQ(def.start(), 0);
  EXPECT_EQ(def.length(), 1);

  QmDataRange zero(0, 0);
  EXPECT_EQ(zero.start(), 0);
  EXPECT_EQ(zero.length(), 0);

  QmDataRange negative(-3, -1);
  EXPECT_EQ(negative.start(), 0);
  EXPECT_EQ(negative.length(), 1);  // a negative length becomes 1, not 0

  QmDataRange lowest(INT_MIN, INT_MIN);
  EXPECT_EQ(lowest.start(), 0);
  EXPECT_EQ(lowest.length(), 1);

  QmDataRange one(1, 0);
  EXPECT_EQ(one.start(), 1);
  EXPECT_EQ(one.location(), 1);
  EXPECT_EQ(one.length(), 0);

  QmDataRange highest(INT_MAX, INT_MAX);
  EXPECT_EQ(highest.start(), INT_MAX);
  EXPECT_EQ(highest.length(), INT_MAX);
  EXPECT_EQ(QmDataRange::GetVersion(), 1);
}

TEST(DataRange, EndIsLastSample) {
  EXPECT_EQ(QmDataRange(5, 10).end(), 14);
  EXPECT_EQ(QmDataRange(0, 0).end(), -1);
  EXPECT_EQ(QmDataRange(7, 1).end(), 7);
  // start + length overflows: the end wraps instead of being undefined.
  EXPECT_EQ(QmDataRange(INT_MAX, 1).end(), INT_MAX);
  EXPECT_EQ(QmDataRange(INT_MAX, 2).end(), INT_MIN);
}

TEST(DataRange, OrderIsStartThenLength) {
  const QmDataRange a(5, 10), longer(5, 11), later(6, 0), same(5, 10);
  EXPECT_TRUE(a < longer);
  EXPECT_TRUE(a < later);  // the end plays no part
  EXPECT_TRUE(later > a);
  EXPECT_TRUE(longer > a);
  EXPECT_FALSE(a > longer);
  EXPECT_FALSE(later < a);

  EXPECT_TRUE(a == same);
  EXPECT_FALSE(a != same);
  EXPECT_TRUE(a != longer);
  EXPECT_FALSE(a < same);
  EXPECT_FALSE(a > same);
  EXPECT_TRUE(a <= same);
  EXPECT_TRUE(a >= same);
  EXPECT_TRUE(a <= later);
  EXPECT_FALSE(a >= later);
  EXPECT_TRUE(later >= a);
  EXPECT_FALSE(later <= a);
  // Same length, different start: the start decides.
  EXPECT_TRUE(QmDataRange(1, 5) < QmDataRange(2, 5));
  EXPECT_FALSE(QmDataRange(2, 5) < QmDataRange(1, 5));
}

TEST(DataRange, PrintLayouts) {
  QmDataRange r(5, 10);
  EXPECT_EQ(Printed(r, -1), "Start:     5  Length:    10\n");
  EXPECT_EQ(Printed(r, 3), "Start:  5\tLength: 10\n");
  EXPECT_EQ(Printed(r, 0), "Start:5\tLength:10\n");
  EXPECT_EQ(Printed(r, -2), "Start:5\tLength:10\n");
  // A number longer than its field is written whole.
  QmDataRange big(1234567, 0);
  EXPECT_EQ(Printed(big, -1), "Start:1234567  Length:     0\n");
  EXPECT_EQ(Printed(big, 2), "Start:1234567\tLength: 0\n");

  std::ostringstream os;
  os << r << r;
  EXPECT_EQ(os.str(),
            "Start:     5  Length:    10\nStart:     5  Length:    10\n");
}

TEST(DataRange, PrintUsesStreamSettingsAndKeepsThem) {
  QmDataRange r(5, 10);
  std::ostringstream os;
  os << std::left;
  os.fill('*');
  os.setf(std::ios::hex, std::ios::basefield);
  r.Print(os, 4);
  EXPECT_EQ(os.str(), "Start:5***\tLength:a***\n");
  EXPECT_EQ(os.fill(), '*');
  EXPECT_TRUE(os.flags() & std::ios::left);
  EXPECT_TRUE(os.flags() & std::ios::hex);
  EXPECT_EQ(os.width(), 0);
}

TEST(DataRange, StoresRecordBytes) {
  QmDataRange r(5, 10);
  std::ostringstream os;
  QmRTArchive out(os);
  out << r;
  EXPECT_EQ(os.str(), ReadFixture("range_5_10.bin"));
  // The archive picks the direction: >> on a storing archive writes too.
  out >> r;
  EXPECT_EQ(os.str(), ReadFixture("range_5_10.bin") + Ints({1, 5, 10}));
  EXPECT_EQ(r, QmDataRange(5, 10));
}

TEST(DataRange, LoadsFixtureAndNegativeFieldsAsStored) {
  std::istringstream fixture(ReadFixture("range_5_10.bin"));
  QmRTArchive from_file(fixture);
  QmDataRange r;
  from_file >> r;
  EXPECT_EQ(r.start(), 5);
  EXPECT_EQ(r.length(), 10);

  // << on a loading archive reads.
  std::istringstream is(Ints({1, -5, -3}));
  QmRTArchive in(is);
  QmDataRange loaded(7, 7);
  in << loaded;
  EXPECT_EQ(loaded.start(), -5);
  EXPECT_EQ(loaded.length(), -3);
  EXPECT_EQ(loaded.end(), -9);

  // Copies and assignment keep the loaded values; only the constructor
  // from start and length normalises.
  QmDataRange copy(loaded);
  EXPECT_EQ(copy.start(), -5);
  EXPECT_EQ(copy.length(), -3);
  QmDataRange assigned;
  assigned = loaded;
  EXPECT_EQ(assigned.start(), -5);
  EXPECT_EQ(assigned.length(), -3);
  std::ostringstream os;
  os << assigned;
  EXPECT_EQ(os.str(), "Start:    -5  Length:    -3\n");
}

TEST(DataRange, LoadChecksVersion) {
  {
    std::istringstream is(Ints({2, 8, 9}));
    QmRTArchive in(is);
    QmDataRange r(3, 4);
    EXPECT_EQ(ThrownInt([&] { in >> r; }), -1);
    EXPECT_EQ(r, QmDataRange(3, 4));
    EXPECT_EQ(is.tellg(), 4);  // nothing after the version was read
  }
  for (int version : {1, 0, -1, INT_MIN}) {
    std::istringstream is(Ints({version, 8, 9}));
    QmRTArchive in(is);
    QmDataRange r;
    EXPECT_EQ(ThrownInt([&] { in >> r; }), 0) << version;
    EXPECT_EQ(r, QmDataRange(8, 9)) << version;
  }
}

TEST(DataRange, ShortRecordThrowsMinusOneKeepingWhatWasRead) {
  {
    std::istringstream is("");
    QmRTArchive in(is);
    QmDataRange r(3, 4);
    EXPECT_EQ(ThrownInt([&] { in >> r; }), -1);
    EXPECT_EQ(r, QmDataRange(3, 4));
  }
  {
    // The length is cut short: the start stays loaded.
    std::istringstream is(Ints({1, 9}) + std::string("\x01\x02", 2));
    QmRTArchive in(is);
    QmDataRange r(3, 4);
    EXPECT_EQ(ThrownInt([&] { in >> r; }), -1);
    EXPECT_EQ(r.start(), 9);
    EXPECT_EQ(r.length(), 4);
  }
}

TEST(DataRange, StoreToFailingStreamThrowsMinusOne) {
  struct RefusingBuf : std::streambuf {};  // overflow() always fails
  RefusingBuf buf;
  std::ostream os(&buf);
  QmRTArchive out(os);
  QmDataRange r(5, 10);
  EXPECT_EQ(ThrownInt([&] { out << r; }), -1);
  EXPECT_EQ(r, QmDataRange(5, 10));
}
