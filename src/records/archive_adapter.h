// SPDX-License-Identifier: MIT
// The archive as the records of the value classes use it. Internal; not
// installed.
//
// The records need only the archive library's fixed interface: m_storing,
// operator<< and operator>> for int and unsigned long, WriteString,
// ReadString, Write, Read, and CZLibCompression's Compress and Decompress.
// The build says which archive library they are built against, with
// QMDATA_OWN_ARCHIVE (CMakeLists.txt): 1 for qmdata's own, 0 for another
// one (-DQMDATA_RTARCHIVE_PACKAGE). Against the own one the same records
// move their ints in blocks (rtarchive/bulk.h), learn how many bytes a
// stream holds before trusting a claimed size, and read a compressed block
// into memory that grows with the bytes and the output it really has.
// Against another one every element goes through operator<< and
// operator>>, and a compressed block is read with one Read (as it was
// written with one Write, which such a library may frame as one item) and
// handed to CZLibCompression::Decompress; its length is then allocated
// before it is read. This file and archive_adapter.cpp are the
// ones that differ.

#ifndef QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_
#define QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "rtarchive/archive.h"
#include "rtarchive/inflate_sink.h"

#ifndef QMDATA_OWN_ARCHIVE
#error "QMDATA_OWN_ARCHIVE (1 or 0) comes from the build: see CMakeLists.txt"
#endif
#if QMDATA_OWN_ARCHIVE
#include "rtarchive/bulk.h"
#endif

namespace qmdata::detail {

// The archive's byte offset of the next item; -1 where it does not tell.
inline std::int64_t ArchiveOffset(const QmRTArchive& ar) {
#if QMDATA_OWN_ARCHIVE
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

// Runs read on a fresh loading archive over ar's stream from `back` bytes
// before its read position, then puts the position back; false where the
// stream cannot seek (and always with another archive library). read's
// exceptions pass through.
bool Reread(QmRTArchive& ar, std::uint64_t back,
            const std::function<void(QmRTArchive&)>& read);

// Reads and drops the compressed block of len bytes that follows.
void SkipBlock(QmRTArchive& ar, std::uint32_t len);

// Reads the compressed block of packed_len > 0 bytes that follows (as one
// Read) and decodes it into sink, which receives at most raw_len > 0 bytes;
// kRefused only from another archive library's decompressor. Archive and
// sink exceptions pass through.
QmInflated DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                       std::uint64_t raw_len, QmInflateSink& sink);

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_
