// SPDX-License-Identifier: MIT
// The records' archive transfers and the archive's failures in words:
// through qmdata's own archive library's block transfers and error, or
// through another library's fixed archive interface (QMDATA_OWN_ARCHIVE).

#include "records/archive_adapter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "records/record_failure.h"
#include "rtarchive/compression.h"

namespace qmdata::detail {

#if QMDATA_OWN_ARCHIVE

void WriteInts(QmRTArchive& ar, const int* data, std::size_t n) {
  QmRTArchiveBulk::WriteInts(ar, data, n);
}

void ReadInts(QmRTArchive& ar, int* data, std::size_t n) {
  QmRTArchiveBulk::ReadInts(ar, data, n);
}

std::int64_t BytesLeft(QmRTArchive& ar, std::uint64_t want) {
  return QmRTArchiveBulk::BytesLeft(ar, want);
}

bool DescribeArchiveError(const std::exception& e, const char* item,
                          std::uint64_t size, RecordFault* fault) {
  const auto* error = dynamic_cast<const QmArchiveError*>(&e);
  if (error == nullptr) return false;
  const std::string it = item;
  if (error->stream_failed_before()) {
    fault->sentence = "the stream was already in a failed state before " + it +
                      " (a file that did not open, or an earlier failure)";
  } else if (error->truncated()) {
    // The error counts from the read that ran short; the reason counts from
    // the item's first byte, where the item began at a known offset.
    std::uint64_t needed = error->needed();
    std::uint64_t arrived = error->arrived();
    const long long at = fault->offset;
    if (at >= 0 && error->offset() >= static_cast<std::uint64_t>(at)) {
      const std::uint64_t before =
          error->offset() - static_cast<std::uint64_t>(at);
      needed = size != 0 ? size : before + needed;
      arrived += before;
    }
    fault->expected = std::to_string(needed) + " bytes";
    fault->found = std::to_string(arrived) + " bytes";
    fault->sentence = it + " needs " + fault->expected + ", " +
                      std::to_string(arrived) + " arrived (truncated)";
  } else {
    fault->sentence = it + ": " + error->reason();
    fault->offset = static_cast<long long>(error->offset());
  }
  return true;
}

void SkipBlock(QmRTArchive& ar, std::uint32_t len) {
  unsigned char piece[4096];
  for (std::uint32_t left = len; left > 0;) {
    const std::uint32_t step = std::min<std::uint32_t>(left, sizeof piece);
    ar.Read(piece, step);
    left -= step;
  }
}

QmInflated DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                       std::uint64_t raw_len, QmInflateSink& sink) {
  return QmRTArchiveBulk::Inflate(ar, packed_len, raw_len, sink);
}

#else  // another archive library: its fixed interface only

void WriteInts(QmRTArchive& ar, const int* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) ar << data[i];
}

void ReadInts(QmRTArchive& ar, int* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) ar >> data[i];
}

std::int64_t BytesLeft(QmRTArchive&, std::uint64_t) { return -1; }

bool DescribeArchiveError(const std::exception&, const char*, std::uint64_t,
                          RecordFault*) {
  return false;
}

// The block is one Write of the storing archive, which another archive
// library may frame as one item: it is read with one Read, into a block of
// its full length.
std::unique_ptr<unsigned char[]> ReadBlock(QmRTArchive& ar, std::uint32_t len) {
  std::unique_ptr<unsigned char[]> block(new unsigned char[len == 0 ? 1 : len]);
  ar.Read(block.get(), len);
  return block;
}

void SkipBlock(QmRTArchive& ar, std::uint32_t len) {
  if (len > 0) ReadBlock(ar, len);
}

QmInflated DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                       std::uint64_t raw_len, QmInflateSink& sink) {
  std::unique_ptr<unsigned char[]> block = ReadBlock(ar, packed_len);
  CZLibCompression z;
  void* out = nullptr;
  if (!z.Decompress(block.get(), packed_len,
                    static_cast<unsigned long>(raw_len), &out) ||
      out == nullptr) {
    return QmInflated::kRefused;
  }
  block.reset();
  std::memcpy(sink.Room(static_cast<std::size_t>(raw_len)), out,
              static_cast<std::size_t>(raw_len));
  return QmInflated::kDone;
}

#endif

}  // namespace qmdata::detail
