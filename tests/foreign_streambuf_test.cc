// SPDX-License-Identifier: MIT
// A stream buffer of the caller's that throws from overflow/underflow in the
// middle of an archive operation. The buffer and its exception type live in
// this program, the archive code in the library: on Windows the exception
// crosses the DLL boundary both ways.

#include <functional>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>

#include <gtest/gtest.h>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "rtarchive/archive.h"

#include "record_support.h"

namespace {

struct BufferFault : std::runtime_error {
  explicit BufferFault(int c) : std::runtime_error("buffer fault"), code(c) {}
  int code;
};

// Passes `allow` bytes one at a time (no put or get area, so every byte goes
// through overflow/underflow), then throws BufferFault(7).
class FaultyBuf : public std::streambuf {
 public:
  FaultyBuf(std::size_t allow, std::string input)
      : allow_(allow), input_(std::move(input)) {}

 protected:
  int_type overflow(int_type c) override {
    if (moved_++ >= allow_) throw BufferFault(7);
    return traits_type::not_eof(c);
  }
  int_type underflow() override {
    if (moved_ >= allow_) throw BufferFault(7);
    byte_ = moved_ < input_.size() ? input_[moved_] : '\0';
    ++moved_;
    setg(&byte_, &byte_, &byte_ + 1);
    return traits_type::to_int_type(byte_);
  }

 private:
  std::size_t allow_;
  std::size_t moved_ = 0;
  std::string input_;
  char byte_ = 0;
};

using Op = std::function<void(QmRTArchive&)>;

struct Case {
  const char* name;
  bool store;
  std::size_t bytes;  // what the operation moves when nothing fails
  std::size_t first;  // what its first transfer (a string's length) moves
  Op op;
};

const int kVars[] = {4, 5, 6};

// Loads a T with >>, or with its Serialize.
template <typename T>
void Extract(QmRTArchive& a) {
  T t{};
  a >> t;
}
template <typename T>
void Load(QmRTArchive& a) {
  T t;
  t.Serialize(a);
}

// Every archive primitive passes the buffer's exception through unchanged,
// whether the fault comes at the first byte or in the middle; the offset
// counts only the transfers completed before it, and the stream's state is
// untouched.
TEST(ForeignStreambuf, ArchivePassesTheBufferExceptionThrough) {
  const Case cases[] = {
      {"int store", true, 4, 4, [](QmRTArchive& a) { a << 5; }},
      {"unsigned long store", true, 4, 4, [](QmRTArchive& a) { a << 5ul; }},
      // A short string and its length are one transfer.
      {"WriteString", true, 9, 9,
       [](QmRTArchive& a) { a.WriteString("<Tag>"); }},
      {"Write", true, 8, 8, [](QmRTArchive& a) { a.Write("abcdefgh", 8); }},
      {"int load", false, 4, 4, Extract<int>},
      {"unsigned long load", false, 4, 4, Extract<unsigned long>},
      {"ReadString", false, 9, 4,
       [](QmRTArchive& a) {
         char b[16];
         a.ReadString(b, 15);
       }},
      {"Read", false, 8, 8,
       [](QmRTArchive& a) {
         char b[8];
         a.Read(b, 8);
       }},
  };
  for (const Case& c : cases) {
    for (std::size_t allow : {std::size_t{0}, std::size_t{3}, c.bytes - 1}) {
      SCOPED_TRACE(std::string(c.name) + ", fault after " +
                   std::to_string(allow) + " bytes");
      FaultyBuf buf(allow, Str("<Tag>") + "xyz");
      std::ostream os(&buf);
      std::istream is(&buf);
      QmRTArchive ar = c.store ? QmRTArchive(os) : QmRTArchive(is);
      int code = 0;
      try {
        c.op(ar);
      } catch (const BufferFault& e) {
        code = e.code;
      } catch (...) {
        code = -2;
      }
      EXPECT_EQ(code, 7);
      EXPECT_EQ(ar.Offset(), allow >= c.first ? c.first : 0);
      EXPECT_TRUE(c.store ? os.good() : is.good());
    }
  }
}

struct RecordCase {
  const char* name;
  Op store, load;
};

// The records turn the buffer's exception into their int -1, as every other
// failure, storing and loading; the quality tag's store has no handler and
// passes it through.
TEST(ForeignStreambuf, RecordsThrowMinusOne) {
  const RecordCase cases[] = {
      {"vector",
       [](QmRTArchive& a) { QmMathLA::vector<int>(3, kVars, 0).Serialize(a); },
       Load<QmMathLA::vector<int>>},
      {"compressed vector",
       [](QmRTArchive& a) {
         QmMathLA::vector<int>(3, kVars, 0).Serialize(a, true);
       },
       [](QmRTArchive& a) {
         QmMathLA::vector<int> v;
         v.Serialize(a, true);
       }},
      {"slice",
       [](QmRTArchive& a) {
         QmDataSlice(QmMathLA::vector<int>(3, kVars, 0), 1, 2).Serialize(a);
       },
       Load<QmDataSlice>},
      {"range", [](QmRTArchive& a) { QmDataRange(3, 4).Serialize(a); },
       Load<QmDataRange>},
      {"quality tag", nullptr, Extract<qmo_qualtag>},
  };
  for (const RecordCase& c : cases) {
    std::ostringstream out;
    QmRTArchive ar(out);
    if (c.store) c.store(ar);
    const std::string bytes = c.store ? out.str() : Ints({1});
    for (std::size_t allow : {std::size_t{0}, bytes.size() / 2}) {
      SCOPED_TRACE(std::string(c.name) + ", fault after " +
                   std::to_string(allow) + " bytes");
      FaultyBuf sink(allow, ""), source(allow, bytes);
      std::ostream os(&sink);
      std::istream is(&source);
      QmRTArchive storing(os), loading(is);
      if (c.store) {
        EXPECT_EQ(OutcomeOf([&] { c.store(storing); }), kMinusOne);
      }
      EXPECT_EQ(OutcomeOf([&] { c.load(loading); }), kMinusOne);
    }
  }
  FaultyBuf buf(0, "");
  std::ostream os(&buf);
  QmRTArchive ar(os);
  qmo_qualtag tag = qmo_qual_good;
  EXPECT_THROW(ar << tag, BufferFault);
}

}  // namespace
