// SPDX-License-Identifier: MIT
// QmLastRecordFailure: what each kind of record failure says, per thread.

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__) && defined(__GLIBCXX__)
#include <ext/stdio_filebuf.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "qmdata/failure.h"
#include "rtarchive/archive.h"

#include "record_support.h"
#include "vector_support.h"

namespace {

// Loads one record of the kind (LoadRecord) from bytes; the message when it
// threw -1.
std::string Why(const char* kind, const std::string& bytes) {
  std::istringstream is(bytes);
  QmRTArchive ar(is);
  EXPECT_EQ(OutcomeOf([&] { LoadRecord(kind, ar); }), -1);
  return QmLastRecordFailure().message;
}

const std::string kStart = Str("<StartVector>");

TEST(RecordFailure, SaysWhatWhereAndWhy) {
  const std::string plain = Record({2, 7, 11}, false);
  // A compressed record with fixed bytes (compressors differ).
  const std::string zip = ReadFixture("vector_zip.bin");
  const struct {
    const char* kind;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"vector", Str("<StartVectoR>"),
       "vector record: tag \"<StartVectoR>\" is not \"<StartVector>\" at byte "
       "offset 0"},
      {"vector", kStart + Ints({2}),
       "vector record: version 2 is above 1 at byte offset 17"},
      {"vector", kStart + Ints({1, 0x40000000}),
       "vector record: count 1073741824 is not below 1073741824 (a block of 4 "
       "GiB or more) at byte offset 21"},
      {"vector", plain.substr(0, 28),
       "vector record: the element block needs 12 bytes, 3 arrived "
       "(truncated) at byte offset 25"},
      {"vector", kStart + Ints({1, 10000}),
       "vector record: the element block needs 40000 bytes, the stream holds "
       "only 0 (truncated) at byte offset 25"},
      {"vector", plain.substr(0, plain.size() - 1),
       "vector record: the end tag needs 15 bytes, 14 arrived (truncated) at "
       "byte offset 37"},
      {"vector:z", kStart + Ints({1, 3, 16}),
       "vector record: raw length 16 is not 4 x count 3 at byte offset 25"},
      {"vector:z", kStart + Ints({1, 3, 12, 4}) + "abcd",
       "vector record: the compressed block is not a complete zlib stream (12 "
       "bytes) at byte offset 33"},
      {"vector", zip,
       "vector record: the end tag: a string of 4160249952 bytes exceeds the "
       "limit of 19 at byte offset 37"},
      {"slice", Ints({2}),
       "slice record: version 2 is above 1 at byte offset 0"},
      {"slice", Ints({1}) + plain + Ints({1, 5}),
       "slice record / range record: the length needs 4 bytes, 0 arrived "
       "(truncated) at byte offset 64"},
      {"range", Ints({1, 5}).substr(0, 6),
       "range record: the start needs 4 bytes, 2 arrived (truncated) at byte "
       "offset 4"},
      {"qualtag", Ints({2}),
       "quality tag: value 2 is neither 0 nor 1 at byte offset 0"},
  };
  for (const auto& c : cases) EXPECT_EQ(Why(c.kind, c.bytes), c.message);

  const QmRecordFailure f = QmLastRecordFailure();
  EXPECT_STREQ(f.record, "quality tag");
  EXPECT_STREQ(f.expected, "0 or 1");
  EXPECT_STREQ(f.found, "value 2");
  EXPECT_EQ(f.offset, 0);
}

TEST(RecordFailure, FileThatDidNotOpen) {
  std::ifstream missing("/nonexistent/qmdata.bin", std::ios::binary);
  QmRTArchive ar(missing);
  EXPECT_EQ(OutcomeOf([&] { LoadRecord("slice", ar); }), -1);
  EXPECT_STREQ(QmLastRecordFailure().message,
               "slice record: the stream was already in a failed state before "
               "the version (a file that did not open, or an earlier failure) "
               "at byte offset 0");
}

// Each thread has its own last failure, a kept copy outlives its thread,
// and clearing forgets it.
TEST(RecordFailure, PerThreadAndClearable) {
  Why("qualtag", Ints({7}));
  std::string other;
  QmRecordFailure kept{};
  std::thread t([&] {
    other = QmLastRecordFailure().message;
    Why("range", Ints({2}));
    kept = QmLastRecordFailure();
  });
  t.join();
  EXPECT_EQ(other, "");
  EXPECT_STREQ(kept.message,
               "range record: version 2 is above 1 at byte offset 0");
  EXPECT_STREQ(kept.record, "range record");
  EXPECT_NE(std::string(QmLastRecordFailure().message), "");
  QmClearRecordFailure();
  const QmRecordFailure f = QmLastRecordFailure();
  EXPECT_STREQ(f.message, "");
  EXPECT_EQ(f.offset, -1);
}

// Every single-bit flip of a file holding every record kind: a slice with
// variables, a compressed vector, a plain one, a range and a tag. No flip
// in a structural byte (tag, version, count, length, zlib stream) may load
// as success with other values. Element, range and tag values carry no
// checksum: their flips may.
TEST(RecordFailure, NoStructuralBitFlipLoadsOtherValues) {
  const std::vector<int> vars{2, 7, 11}, zipped = Pattern(0, 64),
                                         plain{4, -3, 1 << 20, 9};
  std::string file;
  std::vector<bool> value;  // per byte: an element, range or tag value
  // Appends a record whose value bytes are the (from, n) spans.
  using Spans = std::initializer_list<std::pair<std::size_t, std::size_t>>;
  auto add = [&](const std::string& bytes, Spans spans) {
    const std::size_t at = file.size();
    file += bytes;
    value.resize(file.size());
    for (auto [from, n] : spans) {
      for (std::size_t i = from; i < from + n; ++i) value[at + i] = true;
    }
  };
  // The slice's elements follow its version, start tag, version and count;
  // its range's start and length follow the end tag and the range version.
  add(Ints({1}) + Record(vars, false) + Ints({1, 5, 10}), {{29, 12}, {60, 8}});
  add(Record(zipped, true), {});
  add(Record(plain, false), {{25, 16}});
  add(Ints({1, -6, 3}), {{4, 8}});
  add(Ints({1}), {{0, 4}});
  auto load = [](const std::string& bytes, std::vector<int>& got) {
    std::istringstream is(bytes);
    QmRTArchive ar(is);
    return OutcomeOf([&] {
      for (const char* kind :
           {"slice", "vector:z", "vector", "range", "qualtag"}) {
        const std::vector<int> values = LoadRecord(kind, ar);
        got.insert(got.end(), values.begin(), values.end());
      }
    });
  };
  std::vector<int> want;
  ASSERT_EQ(load(file, want), 0);
  for (std::size_t bit = 0; bit < file.size() * 8; ++bit) {
    std::string flipped = file;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    std::vector<int> got;
    const bool other_values = load(flipped, got) == 0 && got != want;
    EXPECT_TRUE(value[bit / 8] || !other_values) << "bit " << bit;
  }
}

#if defined(__linux__) && defined(__GLIBCXX__)
#if defined(__SANITIZE_ADDRESS__)
// A forced unwind, unlike a throw, leaves the unwound frames' poison on the
// thread's stack, which AddressSanitizer's own clearing before the next
// noreturn call reports as an overflow. With use-after-return detection the
// frames live on a side stack instead, and the thread's stack holds none.
extern "C" const char* __asan_default_options() {
  return "detect_stack_use_after_return=1";
}
#endif

// Cancelling a thread blocked reading a record from a pipe unwinds it: the
// record's handler lets the forced unwind pass instead of making it -1,
// which would abort the process.
TEST(RecordFailure, CancelledLoadUnwindsItsThread) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // A slice's version, then nothing.
  ASSERT_EQ(write(fds[1], "\1\0\0\0", 4), 4);
  auto load = [](void* fd) -> void* {
    __gnu_cxx::stdio_filebuf<char> buf(*static_cast<int*>(fd), std::ios::in);
    std::istream in(&buf);
    QmRTArchive ar(in);
    QmDataSlice slice;
    ar >> slice;  // blocks in read(), a cancellation point
    return nullptr;
  };
  pthread_t t;
  ASSERT_EQ(pthread_create(&t, nullptr, load, &fds[0]), 0);
  // Cancelled once the version is read: in or at the vector record's read.
  for (int left = 4; left > 0; usleep(1000)) ioctl(fds[0], FIONREAD, &left);
  pthread_cancel(t);
  void* result = nullptr;
  ASSERT_EQ(pthread_join(t, &result), 0);
  EXPECT_EQ(result, PTHREAD_CANCELED);
  close(fds[1]);
}
#endif

}  // namespace
