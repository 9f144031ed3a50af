// SPDX-License-Identifier: MIT
// QmRTArchiveBulk: int arrays, the stream's remaining bytes and compressed
// blocks.

#include "rtarchive/bulk.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ios>
#include <istream>
#include <memory>
#include <new>
#include <streambuf>
#include <string>

#include "qmdata/claims.h"
#include "rtarchive/byteorder.h"
#include "rtarchive/codec.h"

namespace {

using qmdata::detail::DecodeFixed32;
using qmdata::detail::EncodeFixed32;
using qmdata::detail::kFixed32Size;

// Int arrays move in pieces of at most this many ints: one sputn (sgetn) per
// piece keeps every length well inside a 32-bit std::streamsize.
constexpr std::size_t kIntPiece = std::size_t{1} << 24;
// Ints converted per sputn (sgetn) where the byte order needs converting.
constexpr std::size_t kConvertPiece = 1024;
// A compressed block's output gets a room of its whole raw length at once
// up to this size. A larger claim starts with a room of this size, which
// grows by qmdata::detail::NextStep only when the decoder runs out of it,
// each time decoding the block again from its start: what is held follows
// what the block really decodes to, and the decoding repeated is at most
// about once more the output.
constexpr std::uint64_t kFirstRoom = std::uint64_t{8} * 1024 * 1024;

}  // namespace

struct QmRTArchiveBulk::Impl {
  static void Put(QmRTArchive& ar, const void* data, std::size_t n) {
    ar.PutBytes(data, n, "write of an int array");
  }

  // Reads n ints straight into data (host order is the archive's).
  static void ReadDirect(QmRTArchive& ar, int* data, std::size_t n) {
    const std::uint64_t start = ar.m_offset;
    for (std::size_t done = 0; done < n; done += kIntPiece) {
      const std::size_t k = std::min(n - done, kIntPiece);
      const auto want = static_cast<std::streamsize>(k * kFixed32Size);
      const std::streamsize got =
          ar.m_buf->sgetn(reinterpret_cast<char*>(data + done), want);
      if (got != want) FailShort(ar, start, n, done, got);
      ar.m_offset += k * kFixed32Size;
    }
  }

  // Reads n ints through a local buffer, converting each.
  static void ReadConverting(QmRTArchive& ar, int* data, std::size_t n) {
    const std::uint64_t start = ar.m_offset;
    unsigned char bytes[kConvertPiece * kFixed32Size];
    for (std::size_t done = 0; done < n; done += kConvertPiece) {
      const std::size_t k = std::min(n - done, kConvertPiece);
      const auto want = static_cast<std::streamsize>(k * kFixed32Size);
      const std::streamsize got =
          ar.m_buf->sgetn(reinterpret_cast<char*>(bytes), want);
      const std::size_t whole =
          got > 0 ? static_cast<std::size_t>(got) / kFixed32Size : 0;
      for (std::size_t i = 0; i < whole; ++i) {
        data[done + i] =
            static_cast<int>(DecodeFixed32(bytes + i * kFixed32Size));
      }
      if (got != want) FailShort(ar, start, n, done, got);
      ar.m_offset += k * kFixed32Size;
    }
  }

  // A read of n ints from `start` on stopped `got` bytes into the piece that
  // begins `done` ints in.
  [[noreturn]] static void FailShort(QmRTArchive& ar, std::uint64_t start,
                                     std::size_t n, std::size_t done,
                                     std::streamsize got) {
    const std::uint64_t arrived =
        static_cast<std::uint64_t>(done) * kFixed32Size +
        (got > 0 ? static_cast<std::uint64_t>(got) : 0);
    ar.m_offset = start;
    ar.Fail(("read of " + std::to_string(n) + " ints").c_str(),
            static_cast<std::uint64_t>(n) * kFixed32Size, arrived);
  }

  // The next n bytes where the get area already holds them, consumed; null
  // (nothing consumed) where it does not.
  static const unsigned char* TakeInPlace(QmRTArchive& ar, std::uint32_t n) {
    const char* g = QmRTArchive::Area::Gptr(ar.m_buf);
    if (g == nullptr || static_cast<std::uint64_t>(
                            QmRTArchive::Area::Egptr(ar.m_buf) - g) < n) {
      return nullptr;
    }
    // gbump takes an int: consume in steps that fit one.
    for (std::uint32_t left = n; left > 0;) {
      const std::uint32_t step = std::min<std::uint32_t>(left, INT_MAX);
      QmRTArchive::Area::Gbump(ar.m_buf, static_cast<int>(step));
      left -= step;
    }
    ar.m_offset += n;
    return reinterpret_cast<const unsigned char*>(g);
  }

  // Reads the next n bytes into a block of their own: at once where the
  // stream tells that it holds them (BytesLeft), else into a block that grows
  // by NextStep as they arrive. A short read throws for the whole block, with
  // the bytes that arrived.
  static std::unique_ptr<unsigned char[]> ReadBlock(QmRTArchive& ar,
                                                    std::uint32_t n) {
    const std::uint64_t start = ar.m_offset;
    std::uint64_t size = n;
    if (BytesLeft(ar, n) < static_cast<std::int64_t>(n)) {
      size = std::min<std::uint64_t>(n, qmdata::detail::NextStep(0));
    }
    std::unique_ptr<unsigned char[]> block(
        new unsigned char[size == 0 ? 1 : static_cast<std::size_t>(size)]);
    for (std::uint64_t got = 0; got < n;) {
      if (got == size) {  // full: move to one twice as large
        const std::uint64_t grown =
            std::min<std::uint64_t>(n, size + qmdata::detail::NextStep(size));
        std::unique_ptr<unsigned char[]> larger(
            new unsigned char[static_cast<std::size_t>(grown)]);
        std::memcpy(larger.get(), block.get(), got);
        block = std::move(larger);
        size = grown;
      }
      const auto want = static_cast<std::streamsize>(
          std::min<std::uint64_t>(size - got, kIntPiece * kFixed32Size));
      const std::streamsize read =
          ar.m_buf->sgetn(reinterpret_cast<char*>(block.get() + got), want);
      if (read > 0) got += static_cast<std::uint64_t>(read);
      if (read != want) {
        ar.m_offset = start;
        ar.Fail("read of a compressed block", n, got);
      }
    }
    ar.m_offset = start + n;
    return block;
  }
};

void QmRTArchiveBulk::WriteInts(QmRTArchive& ar, const int* data,
                                std::size_t n) {
  if (ar.m_storing == 0) ar.RefuseDirection("write of an int array");
  if (n == 0) return;
  if (data == nullptr) {
    ar.Fail("write of an int array from a null pointer", 0, 0);
  }
  if (!ar.m_convert_ints) {
    for (std::size_t done = 0; done < n; done += kIntPiece) {
      Impl::Put(ar, data + done, std::min(n - done, kIntPiece) * kFixed32Size);
    }
    return;
  }
  unsigned char bytes[kConvertPiece * kFixed32Size];
  for (std::size_t done = 0; done < n; done += kConvertPiece) {
    const std::size_t k = std::min(n - done, kConvertPiece);
    for (std::size_t i = 0; i < k; ++i) {
      EncodeFixed32(bytes + i * kFixed32Size,
                    static_cast<std::uint32_t>(data[done + i]));
    }
    Impl::Put(ar, bytes, k * kFixed32Size);
  }
}

void QmRTArchiveBulk::ReadInts(QmRTArchive& ar, int* data, std::size_t n) {
  if (ar.m_storing != 0) ar.RefuseDirection("read of an int array");
  if (n == 0) return;
  if (data == nullptr)
    ar.Fail("read of an int array into a null pointer", 0, 0);
  if (ar.m_convert_ints) {
    Impl::ReadConverting(ar, data, n);
  } else {
    Impl::ReadDirect(ar, data, n);
  }
}

std::int64_t QmRTArchiveBulk::BytesLeft(QmRTArchive& ar, std::uint64_t want) {
  std::streambuf* buf = ar.m_buf;
  const std::streamsize avail = buf->in_avail();
  if (avail > 0 && static_cast<std::uint64_t>(avail) >= want) return avail;
  const std::streampos here = buf->pubseekoff(0, std::ios::cur, std::ios::in);
  if (here == std::streampos(std::streamoff(-1))) return -1;  // not seekable
  const std::streampos end = buf->pubseekoff(0, std::ios::end, std::ios::in);
  // Back to where reading stands, whatever the seek to the end found.
  buf->pubseekpos(here, std::ios::in);
  if (end == std::streampos(std::streamoff(-1))) return -1;
  const std::streamoff left = std::streamoff(end) - std::streamoff(here);
  return left < 0 ? 0 : left;
}

namespace {

// True for a zlib header that asks for a preset dictionary (FDICT) and is
// otherwise valid: deflate (CM 8), a window of at most 32 KiB, and its
// check. Neither decoder has the dictionary, so such a stream is refused;
// this only tells why.
bool AsksForDictionary(const unsigned char* in, std::uint32_t n) {
  if (n < 2) return false;
  const unsigned cmf = in[0];
  const unsigned flg = in[1];
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 &&
         (flg & 0x20) != 0;
}

}  // namespace

QmRTArchiveBulk::Inflated QmRTArchiveBulk::Inflate(QmRTArchive& ar,
                                                   std::uint32_t packed_len,
                                                   std::uint64_t raw_len,
                                                   QmInflateSink& sink) {
  if (ar.m_storing != 0) ar.RefuseDirection("read of a compressed block");
  // The whole block is at hand before it is decoded, in place where the
  // get area holds it: the verdict is the decoder's on these bytes alone,
  // however they arrived.
  std::unique_ptr<unsigned char[]> held;
  const unsigned char* in = Impl::TakeInPlace(ar, packed_len);
  if (in == nullptr) {
    held = Impl::ReadBlock(ar, packed_len);
    in = held.get();
  }
  if (AsksForDictionary(in, packed_len)) return Inflated::kPresetDictionary;
  qmdata::detail::ZlibCodec codec;
  std::uint64_t room = std::min(raw_len, kFirstRoom);
  for (;;) {
    unsigned char none = 0;
    unsigned char* out =
        room == 0 ? &none : sink.Room(static_cast<std::size_t>(room));
    std::size_t used = 0;
    std::size_t written = 0;
    switch (codec.Decode(in, packed_len, out, static_cast<std::size_t>(room),
                         &used, &written)) {
      case qmdata::detail::DecodeEnd::kStreamEnd:
        if (used != packed_len) return Inflated::kTrailingBytes;
        return written == raw_len ? Inflated::kDone : Inflated::kShorter;
      case qmdata::detail::DecodeEnd::kNoRoom:
        if (room == raw_len) return Inflated::kLonger;
        room = std::min(raw_len, room + qmdata::detail::NextStep(room));
        break;
      case qmdata::detail::DecodeEnd::kNoMemory:
        throw std::bad_alloc();
      case qmdata::detail::DecodeEnd::kBadData:
        return Inflated::kNotZlib;
    }
  }
}
