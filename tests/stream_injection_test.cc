// SPDX-License-Identifier: MIT
// Stream-failure injection: every record is stored into a stream that takes
// exactly k bytes and loaded from one that delivers exactly k bytes (whole,
// or in pieces of 1, 3 and 7 bytes), for every k up to the record's length.
// Each time: the record's -1 (the quality-tag writer: the archive's error),
// the bytes before k as a full store writes them and the stream marked bad,
// nothing leaked, the object left as documented, and a complete load
// stopping at the record's end.

#include "stream_injection.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drange/datarange.h"
#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "rtarchive/archive.h"

#include "alloc_tracker.h"
#include "record_support.h"
#include "vector_support.h"

namespace {

const std::vector<int> kOldInts = {-1, -2, -3};
const std::vector<int> kNewInts = {10, 20, 30, 40, 50, 60, 70};

// Stores with a stream that takes k bytes, for every k up to the full
// record, and then flushes; a last row takes every byte but fails its sync,
// which only the flush reports. store(ar) stores a fixed object and checks
// it is unchanged.
void StoreEveryPrefix(const std::string& full, Outcome on_failure,
                      const std::function<void(QmRTArchive&)>& store) {
  for (std::size_t k = 0; k <= full.size() + 1; ++k) {
    SCOPED_TRACE(testing::Message() << "store, stream takes " << k);
    const bool sync_fails = k > full.size();
    const bool short_store = k < full.size();
    ExpectNoLeak<alloc_tracker::Scope>([&] {
      LimitedSink sink(std::min(k, full.size()), sync_fails);
      std::ostream os(&sink);
      QmRTArchive ar(os);
      EXPECT_EQ(OutcomeOf([&] { store(ar); }),
                short_store ? on_failure : kCompleted);
      EXPECT_EQ(sink.written(), full.substr(0, k));
      EXPECT_EQ(OutcomeOf([&] { ar.Flush(); }),
                short_store || sync_fails ? kArchiveError : kCompleted);
      EXPECT_EQ(os.bad(), short_store || sync_fails);
    });
  }
}

// Loads from a stream that delivers the first k bytes of the record, for
// every k, whole and in pieces of 1, 3 and 7 bytes. load(ar, k) loads into
// an object of its own and checks what the object holds after k bytes.
void LoadEveryPrefix(
    const std::string& record,
    const std::function<void(QmRTArchive&, std::size_t)>& load) {
  const std::string data = record + "trailing bytes";
  for (auto pieces : {std::initializer_list<std::size_t>{0},
                      std::initializer_list<std::size_t>{1, 3, 7}}) {
    for (std::size_t k = 0; k <= record.size(); ++k) {
      SCOPED_TRACE(testing::Message()
                   << "load, stream delivers " << k << " of " << record.size()
                   << (pieces.size() > 1 ? " in pieces" : ""));
      const bool whole = k == record.size();
      ExpectNoLeak<alloc_tracker::Scope>([&] {
        PieceSource src(data, whole ? data.size() : k, pieces);
        std::istream is(&src);
        QmRTArchive ar(is);
        load(ar, k);
        // A complete load stops at the record's end.
        if (whole) EXPECT_EQ(src.consumed(), record.size());
      });
    }
  }
}

constexpr std::size_t kEndTagBytes = 4 + 11;  // length, "<EndVector>"

TEST(StreamInjection, VectorRecords) {
  // Rows: plain, compressed, and plain past 16 KiB of elements, which a load
  // that cannot see the stream's end reads in pieces.
  const std::vector<int> large = Pattern(2, 4100);
  for (int row = 0; row < 3; ++row) {
    const bool compressed = row == 1;
    const std::vector<int>& elements = row < 2 ? kNewInts : large;
    SCOPED_TRACE(testing::Message()
                 << (compressed ? "compressed " : "plain ") << elements.size());
    Vec v = Make(elements);
    const std::string full = Serialized(v, compressed);
    const VectorFields before = FieldsOf(v);
    StoreEveryPrefix(full, kMinusOne,
                     [&](QmRTArchive& ar) { v.Serialize(ar, compressed); });
    EXPECT_EQ(FieldsOf(v).data, before.data);
    EXPECT_EQ(SharedCount(v), 1);
    EXPECT_EQ(Elements(v), elements);
    // Every element is in once the end tag starts; until then the vector
    // is unchanged, afterwards it holds what was loaded.
    const std::size_t elements_in = full.size() - kEndTagBytes;
    LoadEveryPrefix(full, [&](QmRTArchive& ar, std::size_t k) {
      SharedPair p(kOldInts);
      EXPECT_EQ(OutcomeOf([&] { p.a.Serialize(ar, compressed); }),
                k < full.size() ? kMinusOne : kCompleted);
      if (k >= elements_in) {
        p.ExpectReplaced(elements);
      } else {
        p.ExpectUndisturbed();
      }
    });
    // A wrong end tag after every element was read: -1, elements kept.
    std::string wrong = full;
    wrong[wrong.size() - 2] = 'x';
    std::istringstream is(wrong);
    QmRTArchive ar(is);
    SharedPair p(kOldInts);
    EXPECT_EQ(OutcomeOf([&] { p.a.Serialize(ar, compressed); }), kMinusOne);
    p.ExpectReplaced(elements);
  }
}

TEST(StreamInjection, RangeAndQualityTag) {
  QmDataRange stored(5, 10);
  const std::string full = Stored(stored);
  StoreEveryPrefix(full, kMinusOne, [&](QmRTArchive& ar) { ar << stored; });
  EXPECT_EQ(stored, QmDataRange(5, 10));
  // Version, start, length: a failure on the length keeps the start.
  LoadEveryPrefix(full, [&](QmRTArchive& ar, std::size_t k) {
    QmDataRange r(1, 2);
    EXPECT_EQ(OutcomeOf([&] { ar >> r; }),
              k < full.size() ? kMinusOne : kCompleted);
    EXPECT_EQ(r.start(), k >= 8 ? 5 : 1);
    EXPECT_EQ(r.length(), k >= 12 ? 10 : 2);
  });

  // The writer lets the archive's error through; the reader throws -1.
  qmo_qualtag good = qmo_qual_good;
  StoreEveryPrefix(std::string("\1\0\0\0", 4), kArchiveError,
                   [&](QmRTArchive& ar) { ar << good; });
  EXPECT_EQ(good, qmo_qual_good);
  LoadEveryPrefix(std::string("\1\0\0\0", 4), [&](QmRTArchive& ar,
                                                  std::size_t k) {
    qmo_qualtag tag = qmo_qual_bad;
    EXPECT_EQ(OutcomeOf([&] { ar >> tag; }), k < 4 ? kMinusOne : kCompleted);
    EXPECT_EQ(tag, k < 4 ? qmo_qual_bad : qmo_qual_good);
  });
}

// A store returns once its bytes are in the stream's buffer; a full device
// shows at the flush, which names the bytes stored.
TEST(StreamInjection, FullDeviceShowsAtFlush) {
#ifndef __linux__
  GTEST_SKIP() << "/dev/full is Linux's";
#endif
  std::ofstream full("/dev/full", std::ios::binary);
  if (!full) GTEST_SKIP() << "no /dev/full";
  QmRTArchive ar(full);
  QmDataSlice slice(Make(kNewInts), 5, 10);
  ar << slice;
  EXPECT_TRUE(full.good());
  std::string reason = "no throw";
  try {
    ar.Flush();
  } catch (const QmArchiveError& e) {
    reason = e.reason();
  }
  EXPECT_EQ(reason, "flush of the " + std::to_string(Stored(slice).size()) +
                        " bytes stored (No space left on device) failed");
  EXPECT_TRUE(full.bad());
}

TEST(StreamInjection, SliceRecord) {
  QmDataSlice stored(Make(kNewInts), 5, 10);
  const std::string full = Stored(stored);
  StoreEveryPrefix(full, kMinusOne, [&](QmRTArchive& ar) { ar << stored; });
  EXPECT_EQ(Elements(stored.vars()), kNewInts);
  EXPECT_EQ(SharedCount(stored.vars()), 1);
  // Version (4 bytes), the list's record, the range record (12 bytes): a
  // failure keeps what was loaded before it.
  const std::size_t range_at = full.size() - 12;
  const std::size_t elements_in = range_at - kEndTagBytes;
  LoadEveryPrefix(full, [&](QmRTArchive& ar, std::size_t k) {
    QmDataSlice s(Make(kOldInts), 1, 2);
    QmDataSlice peer(s, 0);
    EXPECT_EQ(OutcomeOf([&] { ar >> s; }),
              k < full.size() ? kMinusOne : kCompleted);
    if (k < elements_in) {
      EXPECT_EQ(FieldsOf(s.vars()).data, FieldsOf(peer.vars()).data);
      EXPECT_EQ(SharedCount(s.vars()), 2);
    } else {
      EXPECT_EQ(Elements(s.vars()), kNewInts);
      EXPECT_EQ(SharedCount(s.vars()), 1);
    }
    EXPECT_EQ(Elements(peer.vars()), kOldInts);
    EXPECT_EQ(s.range().start(), k >= range_at + 8 ? 5 : 1);
    EXPECT_EQ(s.range().length(), k >= range_at + 12 ? 10 : 2);
  });
}

}  // namespace
