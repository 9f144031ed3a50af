// SPDX-License-Identifier: MIT
// The archive as the records of the value classes use it. Internal; not
// installed. This file and archive_adapter.cpp are the only ones that differ
// between archive libraries. The build names the library with
// QMDATA_OWN_ARCHIVE (CMakeLists.txt): 1 for qmdata's own, 0 for another
// (-DQMDATA_RTARCHIVE_PACKAGE), of which the records use only the fixed
// interface: m_storing, operator<< and operator>> for int and unsigned long,
// WriteString, ReadString, Write, Read and CZLibCompression. Against the own
// one the records move ints in blocks (rtarchive/bulk.h), learn how many
// bytes a stream holds before trusting a claimed size, read a compressed
// block into memory that grows with the bytes and the output it really has,
// and describe a failure by QmArchiveError's fields. Against another, each
// int goes through the operators, and a compressed block is read with one
// Read (as one Write wrote it, which such a library may frame as one item)
// into a block of its full length and decoded by
// CZLibCompression::Decompress.

#ifndef QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_
#define QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_

#include <cstddef>
#include <cstdint>
#include <exception>

#include "rtarchive/archive.h"
#include "rtarchive/inflate_sink.h"

#ifndef QMDATA_OWN_ARCHIVE
#error "QMDATA_OWN_ARCHIVE (1 or 0) comes from the build: see CMakeLists.txt"
#endif
#if QMDATA_OWN_ARCHIVE
#include "rtarchive/bulk.h"
#endif

namespace qmdata::detail {

struct RecordFault;  // records/record_failure.h

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

// Reads and drops the compressed block of len bytes that follows.
void SkipBlock(QmRTArchive& ar, std::uint32_t len);

// Reads the compressed block of packed_len > 0 bytes that follows (as one
// Read) and decodes it into sink, which receives at most raw_len > 0 bytes;
// kRefused only from another archive library's decompressor. Archive and
// sink exceptions pass through.
QmInflated DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                       std::uint64_t raw_len, QmInflateSink& sink);

// Where e is the archive library's own error, thrown while the record moved
// `item` (`size` bytes where known), says so in *fault, whose offset is the
// item's, and returns true; otherwise leaves *fault as it is.
bool DescribeArchiveError(const std::exception& e, const char* item,
                          std::uint64_t size, RecordFault* fault);

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_ARCHIVE_ADAPTER_H_
