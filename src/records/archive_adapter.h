// SPDX-License-Identifier: MIT
// The archive as the records of the value classes use it. Internal; not
// installed.
//
// The records need only the archive library's fixed interface: m_storing,
// operator<< and operator>> for int and unsigned long, WriteString,
// ReadString, Write, Read, and CZLibCompression's Compress and Decompress.
// Built against qmdata's own archive library, whose rtarchive/bulk.h is then
// on the include path, the same records move their ints in blocks, learn how
// many bytes a stream holds before trusting a claimed size, and decode a
// compressed block as it is read. Built against another archive library,
// every element goes through operator<< and operator>>, and a compressed
// block is read with one Read (as it was written with one Write, which such
// a library may frame as one item) and handed to
// CZLibCompression::Decompress; its length is then allocated before it is
// read. This file is the one place that knows which.

#ifndef QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_
#define QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "rtarchive/archive.h"

#if defined(__has_include)
#if __has_include("rtarchive/bulk.h")
#include "rtarchive/bulk.h"
// A macro, not a constant: #if tests it, to leave out what other archive
// libraries lack.
#define QMDATA_BULK_ARCHIVE 1  // NOLINT(cppcoreguidelines-macro-usage)
#endif
#endif
#ifndef QMDATA_BULK_ARCHIVE
#define QMDATA_BULK_ARCHIVE 0  // NOLINT(cppcoreguidelines-macro-usage)
#endif

namespace qmdata::detail {

// The archive's byte offset of the next item; -1 where it does not tell.
inline std::int64_t ArchiveOffset(const QmRTArchive& ar) {
#if QMDATA_BULK_ARCHIVE
  return static_cast<std::int64_t>(ar.Offset());
#else
  static_cast<void>(ar);
  return -1;
#endif
}

// n ints, each as operator<< (operator>>) moves it.
void WriteInts(QmRTArchive& ar, const int* data, std::size_t n);
void ReadInts(QmRTArchive& ar, int* data, std::size_t n);

// How many bytes the stream holds after the read position where the archive
// can tell (at least `want`, or the exact count when fewer); -1 otherwise.
std::int64_t BytesLeft(QmRTArchive& ar, std::uint64_t want);

// Takes a decoded block as it comes: Room(produced, &size) gives the buffer
// for the block's bytes from `produced` on, *size > 0 bytes of it. Our own
// archive library's decoder takes the same interface.
#if QMDATA_BULK_ARCHIVE
using BlockSink = QmInflateSink;
#else
class BlockSink {
 public:
  virtual unsigned char* Room(std::uint64_t produced, std::size_t* size) = 0;

  virtual ~BlockSink() = default;

 protected:
  BlockSink() = default;
  BlockSink(const BlockSink&) = default;
  BlockSink& operator=(const BlockSink&) = default;
  BlockSink(BlockSink&&) = default;
  BlockSink& operator=(BlockSink&&) = default;
};
#endif

// Runs read on a fresh loading archive over ar's stream from `back` bytes
// before its read position, then puts the position back; false where the
// stream cannot seek (and always with another archive library). read's
// exceptions pass through.
bool Reread(QmRTArchive& ar, std::uint64_t back,
            const std::function<void(QmRTArchive&)>& read);

// How DecodeBlock ended.
enum class Decoded {
  kDone,              // exactly raw_len bytes
  kNotZlib,           // corrupt, or cut short within the block
  kPresetDictionary,  // the stream asks for a dictionary
  kLonger,            // more than raw_len bytes
  kShorter,           // fewer than raw_len bytes
  kTrailingBytes,     // the stream ends before the block does
  kRefused,           // the archive library's decompressor said no
};

// Reads and drops the compressed block of len bytes that follows.
void SkipBlock(QmRTArchive& ar, std::uint32_t len);

// Reads the compressed block of packed_len > 0 bytes that follows (as one
// Read) and decodes it into sink, which receives at most raw_len > 0 bytes.
// Archive and sink exceptions pass through.
Decoded DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                    std::uint64_t raw_len, BlockSink& sink);

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_
