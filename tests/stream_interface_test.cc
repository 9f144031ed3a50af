// SPDX-License-Identifier: MIT
// Archives on streams that read and write, and the operators for const
// values and temporaries.

#include <concepts>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "drange/datarange.h"
#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "qmdata/failure.h"
#include "qmdata/version.h"
#include "rtarchive/archive.h"

#include "record_support.h"

// A stream that reads and writes must be given a direction.
static_assert(!std::is_constructible_v<QmRTArchive, std::fstream&>);
static_assert(!std::is_constructible_v<QmRTArchive, std::stringstream&>);
static_assert(
    std::is_constructible_v<QmRTArchive, std::fstream&, QmRTArchive::Mode>);
static_assert(std::is_constructible_v<QmRTArchive, std::ostringstream&>);
static_assert(std::is_constructible_v<QmRTArchive, std::istringstream&>);

namespace probe {

// Deleted, and with identity conversions for both operands: it beats any
// overload that needs a promotion, such as the archive's operator<<(int), and
// loses only to a non-template tag overload that matches as well. Every
// expression below compiles only if such a tag overload is chosen.
template <typename T>
requires std::same_as<T, qmo_qualtag> QmRTArchive& operator<<(
    QmRTArchive&, const T&) = delete;

template <typename Tag>
concept StoredAsTag = requires(QmRTArchive& a, Tag&& t) {
  a << std::forward<Tag>(t);
};
static_assert(StoredAsTag<qmo_qualtag&>);        // a tag variable
static_assert(StoredAsTag<const qmo_qualtag&>);  // a const tag
static_assert(StoredAsTag<qmo_qualtag>);         // casts and enumerators
static_assert(StoredAsTag<const qmo_qualtag>);

}  // namespace probe

namespace {

QmDataSlice MakeSlice() { return QmDataSlice(Make({2, 7, 11}), 5, 10); }

}  // namespace

TEST(ArchiveOnIostream, ModeAndNamedConstructorsPickTheDirection) {
  std::stringstream ss;
  {
    QmRTArchive out(ss, QmRTArchive::Mode::Store);
    EXPECT_NE(out.m_storing, 0);
    out << 7;
    QmRTArchive named = QmRTArchive::Storing(ss);
    EXPECT_NE(named.m_storing, 0);
    named << 8;
  }
  EXPECT_EQ(ss.str(), Ints({7, 8}));
  // A string stream keeps its read position at 0 while it is written.
  QmRTArchive in(ss, QmRTArchive::Mode::Load);
  EXPECT_EQ(in.m_storing, 0);
  int a = 0, b = 0;
  in >> a;
  auto named = QmRTArchive::Loading(ss);
  EXPECT_EQ(named.m_storing, 0);
  named >> b;
  EXPECT_EQ(a, 7);
  EXPECT_EQ(b, 8);

  EXPECT_THROW({ QmRTArchive bad(ss, static_cast<QmRTArchive::Mode>(2)); },
               QmArchiveError);
}

TEST(ArchiveOnIostream, LoadingStartsAtTheCallersReadPosition) {
  std::stringstream ss(Ints({1, 2, 3}));
  ss.seekg(4);
  QmRTArchive in(ss, QmRTArchive::Mode::Load);
  int v = 0;
  in >> v;
  EXPECT_EQ(v, 2);
  EXPECT_EQ(in.Offset(), 4u);  // counted from where the archive started
}

TEST(ArchiveOnIostream, FileRoundTripThroughOneFstream) {
  // In the working directory, which belongs to this build alone.
  const std::string path = "stream_interface_test.bin";
  QmDataSlice slice = MakeSlice();
  QmMathLA::vector<int> data(1000, nullptr, 0);
  for (int i = 0; i < data.elems(); ++i) data[i] = i % 37 - 18;
  qmo_qualtag tag = qmo_qual_good;

  QmDataSlice slice_in;
  QmMathLA::vector<int> data_in;
  qmo_qualtag tag_in = qmo_qual_bad;
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::trunc |
                             std::ios::binary);
    ASSERT_TRUE(f.is_open()) << path;
    QmRTArchive out(f, QmRTArchive::Mode::Store);
    out << slice;
    data.ZipIn(out);
    out << tag;
    f.seekg(0);  // one position for both directions
    QmRTArchive in(f, QmRTArchive::Mode::Load);
    in >> slice_in;
    data_in.UnzipOut(in);
    in >> tag_in;
    EXPECT_EQ(f.peek(), std::char_traits<char>::eof());  // all read back
  }
  std::remove(path.c_str());
  EXPECT_EQ(slice_in, slice);
  EXPECT_TRUE(data_in == data);
  EXPECT_EQ(tag_in, qmo_qual_good);
}

TEST(ConstOperators, PrintLikeTheNonConstOnes) {
  QmDataRange range(5, 10);
  QmDataSlice slice = MakeSlice();
  EXPECT_EQ(Printed(std::as_const(range)), "Start:     5  Length:    10\n");
  EXPECT_EQ(Printed(std::as_const(slice)), Printed(slice));
}

TEST(ConstOperators, StoreOnAStoringArchiveAsTheRecordsDo) {
  const QmDataRange range(5, 10);
  const QmDataSlice slice = MakeSlice();
  std::ostringstream os;
  QmRTArchive out(os);
  out << range << slice << QmDataRange(0, 0) << MakeSlice();
  EXPECT_EQ(os.str(), Stored(range) + Stored(slice) +
                          Stored(QmDataRange(0, 0)) + Stored(slice));
  EXPECT_EQ(os.str().substr(0, 12), ReadFixture("range_5_10.bin"));
}

TEST(ConstOperators, FailOnALoadingArchiveWithoutTouchingTheStream) {
  const QmDataRange range(5, 10);
  const QmDataSlice slice = MakeSlice();
  const qmo_qualtag tag = qmo_qual_good;
  const std::string bytes = Ints({1, 5, 10});
  std::stringstream ss(bytes);
  QmRTArchive in(ss, QmRTArchive::Mode::Load);
  EXPECT_EQ(OutcomeOf([&] { in << range; }), kMinusOne);
  EXPECT_STREQ(QmLastRecordFailure().message,
               "range record: a const range cannot be loaded at byte offset 0");
  EXPECT_EQ(OutcomeOf([&] { in << slice; }), kMinusOne);
  EXPECT_EQ(OutcomeOf([&] { in << tag; }), kMinusOne);
  EXPECT_EQ(OutcomeOf([&] { in << qmo_qual_bad; }), kMinusOne);
  EXPECT_EQ(ss.str(), bytes);
  EXPECT_EQ(ss.tellg(), 0);
  EXPECT_EQ(in.Offset(), 0u);
}

TEST(ConstOperators, ArchiveErrorsOfAConstTagPassThrough) {
  struct Refusing : std::streambuf {
  } buf;
  std::ostream os(&buf);
  QmRTArchive out(os);
  EXPECT_THROW(out << qmo_qual_good, QmArchiveError);
  EXPECT_EQ(OutcomeOf([&] { out << QmDataRange(); }), kMinusOne);
}

TEST(Version, HeaderAndLibraryAgree) {
  EXPECT_STREQ(QmDataVersion(), QMDATA_VERSION_STRING);
  EXPECT_EQ(std::to_string(QMDATA_VERSION_MAJOR) + "." +
                std::to_string(QMDATA_VERSION_MINOR) + "." +
                std::to_string(QMDATA_VERSION_PATCH),
            QMDATA_VERSION_STRING);
}
