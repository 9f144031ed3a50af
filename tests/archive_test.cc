// SPDX-License-Identifier: MIT
#include "rtarchive/archive.h"

#include <climits>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rtarchive/bulk.h"

#include "record_support.h"
#include "stream_injection.h"

namespace {

std::string Bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

// A put area of 5 bytes, so that ints straddle its end; reads go through a
// PieceSource of 5-byte pieces.
class ChunkedSink : public std::streambuf {
 public:
  std::string m_data;

 protected:
  int_type overflow(int_type c) override {
    m_data.append(pbase(), pptr());
    setp(m_out, m_out + sizeof m_out);
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    overflow(traits_type::eof());
    return 0;
  }

 private:
  char m_out[5];
};

TEST(ArchivePrimitives, IntsStraddleBufferAreas) {
  ChunkedSink buf;
  std::ostream os(&buf);
  QmRTArchive out(os);
  for (int i = 0; i < 50; ++i) out << i * 0x01010101 - 7;
  buf.pubsync();
  ASSERT_EQ(buf.m_data.size(), 200u);
  EXPECT_EQ(buf.m_data.substr(0, 4), Bytes({0xF9, 0xFF, 0xFF, 0xFF}));
  PieceSource src(buf.m_data, buf.m_data.size(), {5});
  std::istream is(&src);
  QmRTArchive in(is);
  for (int i = 0; i < 50; ++i) {
    int v = 0;
    in >> v;
    ASSERT_EQ(v, i * 0x01010101 - 7) << i;
  }
  int extra = 0;
  EXPECT_THROW(in >> extra, QmArchiveError);
}

TEST(ArchivePrimitives, StoresAndLoadsEachPrimitive) {
  std::ostringstream os;
  QmRTArchive ar(os);
  EXPECT_NE(ar.m_storing, 0);
  ar << 1 << -2 << INT_MIN << 0x12345678;
  ar << 0xFFFFFFFFul << 7ul;
  ar.WriteString("ab");
  ar.WriteString("");
  ar.WriteString(nullptr);
  ar.Write("\x01\xFFz", 3);
  ar.Write(nullptr, 0);
  const std::string expected =
      Bytes({1,    0,    0,    0,    0xFE, 0xFF, 0xFF, 0xFF, 0,    0, 0,
             0x80, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 7, 0,
             0,    0,    2,    0,    0,    0,    'a',  'b',  0,    0, 0,
             0,    0,    0,    0,    0,    1,    0xFF, 'z'});
  EXPECT_EQ(os.str(), expected);
  EXPECT_EQ(ar.Offset(), expected.size());
  EXPECT_EQ(os.str(), ReadFixture("archive_primitives.bin"));

  // The same bytes load back.
  std::istringstream is(os.str());
  QmRTArchive in(is);
  EXPECT_EQ(in.m_storing, 0);
  int a = 0, b = 0, c = 0, d = 0;
  in >> a >> b >> c >> d;
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, INT_MIN);
  EXPECT_EQ(d, 0x12345678);
  unsigned long big = 0, small = 0;
  in >> big >> small;
  EXPECT_EQ(big, 0xFFFFFFFFul);
  EXPECT_EQ(small, 7ul);
  char buf[20];
  EXPECT_EQ(in.ReadString(buf, 19), buf);
  EXPECT_STREQ(buf, "ab");
  EXPECT_STREQ(in.ReadString(buf, 19), "");
  EXPECT_STREQ(in.ReadString(buf, 0), "");
  char raw[3];
  EXPECT_EQ(in.Read(raw, 3), 3u);
  EXPECT_EQ(std::string(raw, 3), Bytes({1, 0xFF, 'z'}));
  EXPECT_EQ(in.Read(nullptr, 0), 0u);
  EXPECT_EQ(in.Offset(), 41u);
}

TEST(ArchivePrimitives, ShortReadsThrowWithOffset) {
  std::istringstream is(Bytes({5, 0, 0, 0, 9, 9}));
  QmRTArchive ar(is);
  int v = 0;
  ar >> v;
  try {
    ar >> v;
    FAIL() << "no throw";
  } catch (const QmArchiveError& e) {
    EXPECT_NE(std::string(e.what()).find("int"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("offset 4"), std::string::npos);
    EXPECT_STREQ(e.reason(), "read of an int (2 of 4 bytes arrived) failed");
  }
  EXPECT_TRUE(is.bad());

  std::istringstream s2(Bytes({1, 0}));
  QmRTArchive a2(s2);
  unsigned long ul = 0;
  EXPECT_THROW(a2 >> ul, QmArchiveError);

  std::istringstream s3(Bytes({4, 0, 0, 0, 'a', 'b'}));
  QmRTArchive a3(s3);
  char buf[20];
  EXPECT_THROW(a3.ReadString(buf, 19), QmArchiveError);
  EXPECT_STREQ(buf, "");

  std::istringstream s4(Bytes({1, 2}));
  QmRTArchive a4(s4);
  char raw[3];
  EXPECT_THROW(a4.Read(raw, 3), QmArchiveError);
}

// Every transfer against the archive's direction throws before touching
// the stream: a loading archive on an fstream must not write into its file.
TEST(ArchivePrimitives, TransfersAgainstTheDirectionThrow) {
  std::stringstream s(Bytes({1, 0, 0, 0, 2, 0, 0, 0}));
  QmRTArchive loading(s, QmRTArchive::Mode::Load);
  QmRTArchive storing(s, QmRTArchive::Mode::Store);
  int i = 0;
  unsigned long ul = 0;
  char buf[20];
  int ints[2];
  struct : QmInflateSink {
    unsigned char* Room(std::size_t) override { return nullptr; }
  } sink;
  const std::function<void()> wrong[] = {
      [&] { loading << 1; },
      [&] { loading << 1ul; },
      [&] { loading.WriteString("x"); },
      [&] { loading.Write("x", 1); },
      [&] { QmRTArchiveBulk::WriteInts(loading, ints, 0); },
      [&] { loading.Flush(); },
      [&] { storing >> i; },
      [&] { storing >> ul; },
      [&] { storing.ReadString(buf, 19); },
      [&] { storing.Read(buf, 1); },
      [&] { QmRTArchiveBulk::ReadInts(storing, ints, 2); },
      [&] { QmRTArchiveBulk::Inflate(storing, 2, 4, sink); },
  };
  for (const auto& f : wrong) EXPECT_THROW(f(), QmArchiveError);
  EXPECT_EQ(s.str(), Bytes({1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(s.tellg(), 0);
  EXPECT_EQ(s.tellp(), 0);
  EXPECT_TRUE(s.good());
  EXPECT_EQ(loading.Offset() + storing.Offset(), 0u);
}

TEST(ArchivePrimitives, TooLongStringThrowsAfterLength) {
  std::ostringstream os;
  QmRTArchive out(os);
  out.WriteString("01234567890123456789");  // 20 characters
  out << 42;
  std::istringstream is(os.str());
  QmRTArchive in(is);
  char buf[20] = "junk";
  try {
    in.ReadString(buf, 19);
    FAIL() << "no throw";
  } catch (const QmArchiveError& e) {
    EXPECT_NE(std::string(e.what()).find("offset 0"), std::string::npos);
    EXPECT_STREQ(e.reason(), "a string of 20 bytes exceeds the limit of 19");
  }
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(in.Offset(), 4u);
  EXPECT_EQ(is.tellg(), 4);
  // The limit itself is fine.
  std::istringstream is2(os.str());
  QmRTArchive in2(is2);
  char big[21];
  EXPECT_STREQ(in2.ReadString(big, 20), "01234567890123456789");
  int v = 0;
  in2 >> v;
  EXPECT_EQ(v, 42);
}

TEST(ArchivePrimitives, UnsignedLongAboveFourBytesThrows) {
  if (sizeof(unsigned long) <= 4) GTEST_SKIP() << "unsigned long is 4 bytes";
  std::ostringstream os;
  QmRTArchive ar(os);
  EXPECT_THROW(ar << static_cast<unsigned long>(0x100000000ull),
               QmArchiveError);
  EXPECT_EQ(os.str(), "");
}

TEST(ArchivePrimitives, FailingStreamThrowsAndSetsBadbit) {
  for (std::size_t room = 0; room < 12; ++room) {
    LimitedSink buf(room);
    std::ostream os(&buf);
    QmRTArchive ar(os);
    bool threw = false;
    try {
      ar << 0x01020304;
      ar << 5ul;
      ar.WriteString("x");
      ar.Write("abc", 3);
    } catch (const QmArchiveError&) {
      threw = true;
    }
    // 4 + 4 + 5 + 3 = 16 bytes are needed.
    EXPECT_TRUE(threw) << room;
    EXPECT_TRUE(os.bad()) << room;
    EXPECT_EQ(buf.written().size(), room);
  }
}

TEST(ArchivePrimitives, WritesReachTheStreamAtOnce) {
  const std::string path = ::testing::TempDir() + "qmdata_archive_at_once.bin";
  std::ofstream f(path, std::ios::binary);
  QmRTArchive ar(f);
  ar << 7;
  ar.WriteString("tag");
  EXPECT_EQ(f.tellp(), 11);
  f.close();
  std::remove(path.c_str());
}

TEST(ArchivePrimitives, BytesLeftKeepsPosition) {
  std::istringstream is(std::string(10, 'x'));
  QmRTArchive ar(is);
  char raw[3];
  ar.Read(raw, 3);
  EXPECT_EQ(QmRTArchiveBulk::BytesLeft(ar, 7), 7);
  EXPECT_EQ(QmRTArchiveBulk::BytesLeft(ar, 1ull << 40), 7);
  EXPECT_EQ(is.tellg(), 3);
  EXPECT_EQ(ar.Read(raw, 3), 3u);
  EXPECT_EQ(QmRTArchiveBulk::BytesLeft(ar, 5), 4);
  // A stream that cannot seek cannot tell.
  LimitedSink none(0);
  std::istream unseekable(&none);
  QmRTArchive a2(unseekable);
  EXPECT_EQ(QmRTArchiveBulk::BytesLeft(a2, 1), -1);
  EXPECT_EQ(is.tellg(), 6);
}

// Int arrays, on both byte-order paths and through 5-byte buffer areas, give
// the bytes of one operator<< per int and read them back.
TEST(ArchivePrimitives, IntArraysMatchPerIntForm) {
  std::vector<int> values(3000);
  for (std::size_t i = 0; i < values.size(); ++i) {
    values[i] = static_cast<int>(i * 0x9E3779B9u);
  }
  std::ostringstream one_by_one;
  QmRTArchive ref(one_by_one);
  for (int v : values) ref << v;
  for (bool convert : {false, true}) {
    for (bool chunked : {false, true}) {
      ChunkedSink sink;
      std::stringstream ss;
      std::ostream os(chunked ? static_cast<std::streambuf*>(&sink)
                              : ss.rdbuf());
      QmRTArchive out(os);
      if (convert) QmRTArchiveTestAccess::ConvertInts(out);
      QmRTArchiveBulk::WriteInts(out, values.data(), 1);
      QmRTArchiveBulk::WriteInts(out, values.data() + 1, values.size() - 1);
      QmRTArchiveBulk::WriteInts(out, nullptr, 0);
      EXPECT_EQ(out.Offset(), values.size() * 4);
      os.rdbuf()->pubsync();
      EXPECT_EQ(chunked ? sink.m_data : ss.str(), one_by_one.str());
      PieceSource src(sink.m_data, sink.m_data.size(), {5});
      std::istream is(chunked ? static_cast<std::streambuf*>(&src)
                              : ss.rdbuf());
      QmRTArchive in(is);
      if (convert) QmRTArchiveTestAccess::ConvertInts(in);
      std::vector<int> back(values.size());
      QmRTArchiveBulk::ReadInts(in, back.data(), back.size());
      EXPECT_TRUE(back == values) << convert << chunked;
    }
  }
}

TEST(ArchivePrimitives, ShortIntArrayReadCountsWholeInts) {
  for (bool convert : {false, true}) {
    std::istringstream is(Bytes({9, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0}));
    QmRTArchive ar(is);
    if (convert) QmRTArchiveTestAccess::ConvertInts(ar);
    int first = 0;
    ar >> first;
    int out[4] = {};
    try {
      QmRTArchiveBulk::ReadInts(ar, out, 4);
      FAIL() << "no throw";
    } catch (const QmArchiveError& e) {
      EXPECT_EQ(e.offset(), 4u);
      EXPECT_EQ(e.needed(), 16u);
      EXPECT_EQ(e.arrived(), 10u);
      EXPECT_TRUE(e.truncated());
    }
    EXPECT_TRUE(is.bad());
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 2);
  }
}

TEST(ArchivePrimitives, StreamWithoutBufferIsRefused) {
  std::istream is(nullptr);
  EXPECT_THROW(QmRTArchive ar(is), QmArchiveError);
  std::ostream os(nullptr);
  EXPECT_THROW(QmRTArchive ar(os), QmArchiveError);
}

}  // namespace
