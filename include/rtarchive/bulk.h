// SPDX-License-Identifier: MIT
// QmRTArchiveBulk: block transfers that record code may use on top of a
// QmRTArchive's own operations, for records whose elements are stored as many
// ints or as one compressed block.
//
//   QmRTArchiveBulk::WriteInts(ar, data, n);  // the bytes of n `ar << int`
//   QmRTArchiveBulk::ReadInts(ar, data, n);
//
// Everything here is exactly what the archive's own operations would give,
// only in bigger steps: WriteInts writes the bytes of n calls of
// operator<<(int), ReadInts reads them back, Inflate reads the bytes of one
// Read of a compressed block and decodes it as CZLibCompression::Decompress
// does. Failures are the archive's: QmArchiveError, with its offset and, for a
// read that runs out of data, the bytes that arrived.
//
// Thread safety: as the archive's; one thread at a time per archive.

#ifndef QMDATA_RTARCHIVE_BULK_H_
#define QMDATA_RTARCHIVE_BULK_H_

#include <cstddef>
#include <cstdint>

#include "rtarchive/archive.h"
#include "rtarchive/export.h"
#include "rtarchive/inflate_sink.h"

class QMDATA_RTARCHIVE_EXPORT QmRTArchiveBulk {
 public:
  QmRTArchiveBulk() = delete;

  // n ints, exactly as n calls of operator<< (operator>>) would move them.
  // A short read throws with the bytes that arrived; the whole ints among
  // them are in data, the rest of data is unspecified.
  static void WriteInts(QmRTArchive& ar, const int* data, std::size_t n);
  static void ReadInts(QmRTArchive& ar, int* data, std::size_t n);

  // How many bytes the stream holds after the read position, where it can
  // tell: the get area's count when that covers `want`, else the distance to
  // a seekable stream's end. -1 when it cannot tell (a pipe). The read
  // position is left where it was. Lets a loader refuse a claimed size, or
  // trust it, before allocating for it.
  static std::int64_t BytesLeft(QmRTArchive& ar, std::uint64_t want);

  // How Inflate ended (rtarchive/inflate_sink.h); never kRefused.
  using Inflated = QmInflated;
  // Reads the packed_len bytes that follow (as Read would) and decodes them
  // as one zlib stream into `sink`, which is asked for rooms of at most
  // raw_len bytes (Room). The block is read whole before it is decoded (or
  // used in place where the stream's buffer holds it), and decoded by the
  // build's decoder alone, so its verdict does not depend on how its bytes
  // arrived; while the stream cannot tell its length, the block grows with
  // the bytes that arrive. Anything but kDone leaves the sink's contents
  // unspecified. A short read throws QmArchiveError for the whole block, and
  // the sink's exceptions pass through.
  static Inflated Inflate(QmRTArchive& ar, std::uint32_t packed_len,
                          std::uint64_t raw_len, QmInflateSink& sink);

 private:
  struct Impl;  // the archive's internals that these transfers use
};

#endif  // QMDATA_RTARCHIVE_BULK_H_
