// The records' archive transfers, through qmdata's own archive library where
// the build has it and through the fixed archive interface otherwise.

#include "qmdata/archive_adapter.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "qmdata/pieces.h"
#include "rtarchive/compression.h"

namespace qmdata::detail {

#if QMDATA_BULK_ARCHIVE

void WriteInts(QmRTArchive& ar, const int* data, std::size_t n) {
  QmRTArchiveBulk::WriteInts(ar, data, n);
}

void ReadInts(QmRTArchive& ar, int* data, std::size_t n) {
  QmRTArchiveBulk::ReadInts(ar, data, n);
}

std::int64_t BytesLeft(QmRTArchive& ar, std::uint64_t want) {
  return QmRTArchiveBulk::BytesLeft(ar, want);
}

namespace {

struct ForwardSink final : QmInflateSink {
  explicit ForwardSink(BlockSink& s) : sink(s) {}
  unsigned char* Room(std::uint64_t produced, std::size_t* size) override {
    return sink.Room(produced, size);
  }
  BlockSink& sink;
};

}  // namespace

Decoded DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                    std::uint64_t raw_len, BlockSink& sink) {
  ForwardSink forward(sink);
  using I = QmRTArchiveBulk::Inflated;
  switch (QmRTArchiveBulk::Inflate(ar, packed_len, raw_len, forward)) {
    case I::kDone:
      return Decoded::kDone;
    case I::kPresetDictionary:
      return Decoded::kPresetDictionary;
    case I::kLonger:
      return Decoded::kLonger;
    case I::kShorter:
      return Decoded::kShorter;
    case I::kTrailingBytes:
      return Decoded::kTrailingBytes;
    case I::kNotZlib:
      break;
  }
  return Decoded::kNotZlib;
}

#else  // another archive library: its fixed interface only

void WriteInts(QmRTArchive& ar, const int* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) ar << data[i];
}

void ReadInts(QmRTArchive& ar, int* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) ar >> data[i];
}

std::int64_t BytesLeft(QmRTArchive&, std::uint64_t) { return -1; }

Decoded DecodeBlock(QmRTArchive& ar, std::uint32_t packed_len,
                    std::uint64_t raw_len, BlockSink& sink) {
  // The whole block for Decompress, read as it arrives.
  std::unique_ptr<unsigned char[]> block;
  {
    Pieces<unsigned char> pieces;
    pieces.Fill(packed_len, [&](unsigned char* dst, std::size_t k) {
      ar.Read(dst, static_cast<unsigned>(k));
    });
    block.reset(new unsigned char[packed_len]);
    pieces.MoveTo(block.get());
  }
  CZLibCompression z;
  void* out = nullptr;
  if (!z.Decompress(block.get(), packed_len,
                    static_cast<unsigned long>(raw_len), &out) ||
      out == nullptr) {
    return Decoded::kRefused;
  }
  block.reset();
  const auto* from = static_cast<const unsigned char*>(out);
  for (std::uint64_t produced = 0; produced < raw_len;) {
    std::size_t size = 0;
    unsigned char* room = sink.Room(produced, &size);
    const auto k =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, raw_len - produced));
    std::memcpy(room, from + produced, k);
    produced += k;
  }
  return Decoded::kDone;
}

#endif

}  // namespace qmdata::detail
