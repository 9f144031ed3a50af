// SPDX-License-Identifier: MIT
// QmRTArchiveBulk: int arrays, the stream's remaining bytes and compressed
// blocks decoded as they are read.

#include "rtarchive/bulk.h"

#define ZLIB_CONST
#include <algorithm>
#include <climits>
#include <ios>
#include <istream>
#include <memory>
#include <new>
#include <optional>
#include <streambuf>
#include <string>

#include <zlib.h>

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
// Compressed bytes read per step when a block is decoded as it arrives.
constexpr std::size_t kInflateChunk = std::size_t{16} * 1024;
// A block that the stream vouches for and that is at most this long is read
// whole and decoded in one call, when the sink offers all of the output at
// once.
constexpr std::uint32_t kWholeBlockLimit = 8u * 1024 * 1024;

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

  static void Get(QmRTArchive& ar, void* data, std::size_t n) {
    ar.GetBytes(data, n, "read of a compressed block");
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
  // Back to where reading stands, whatever the probe found.
  buf->pubseekpos(here, std::ios::in);
  if (end == std::streampos(std::streamoff(-1))) return -1;
  const std::streamoff left = std::streamoff(end) - std::streamoff(here);
  return left < 0 ? 0 : left;
}

namespace {

// zlib's inflate state for one block; inflateEnd whatever happens.
class InflateStream {
 public:
  InflateStream() {
    if (inflateInit(&m_z) != Z_OK) throw std::bad_alloc();
  }
  ~InflateStream() { inflateEnd(&m_z); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  z_stream& z() { return m_z; }

 private:
  z_stream m_z{};
};

// Where inflate writes next: the rooms the sink gives, up to raw_len bytes
// in all, then a spare byte, whose use means the stream is too long.
class OutputWindow {
 public:
  // `room` (room_size bytes) is the sink's room for the block's first byte,
  // or null when it has not been asked yet.
  OutputWindow(std::uint64_t raw_len, QmInflateSink& sink, unsigned char* room,
               std::size_t room_size)
      : m_raw_len(raw_len), m_sink(sink), m_room(room), m_room_size(room_size) {}

  // Gives z the next room once the current one is full.
  void Refill(z_stream& z) {
    if (z.avail_out != 0) return;
    if (m_produced == m_raw_len) {
      z.next_out = &m_spare;
      z.avail_out = 1;
      return;
    }
    if (m_room == nullptr) m_room = m_sink.Room(m_produced, &m_room_size);
    z.next_out = m_room;
    z.avail_out = static_cast<uInt>(std::min<std::uint64_t>(
        {m_room_size, m_raw_len - m_produced, UINT_MAX}));
    m_room = nullptr;  // used up once this window is full
  }
  bool IntoSpare(const z_stream& z) const { return z.next_out == &m_spare; }
  void Count(uInt written) { m_produced += written; }
  // Bytes of output before the current room's start.
  std::uint64_t produced() const { return m_produced; }

 private:
  std::uint64_t m_raw_len;
  QmInflateSink& m_sink;
  unsigned char* m_room;
  std::size_t m_room_size;
  std::uint64_t m_produced = 0;
  unsigned char m_spare = 0;
};

// What an inflate return code other than Z_STREAM_END means: how decoding
// ended, or nothing while it goes on. all_given: zlib has been given the
// whole block.
std::optional<QmInflated> Verdict(int rc, bool all_given) {
  if (rc == Z_NEED_DICT) return QmInflated::kPresetDictionary;
  if (rc == Z_MEM_ERROR) throw std::bad_alloc();
  if (rc != Z_OK && rc != Z_BUF_ERROR) return QmInflated::kNotZlib;
  // No progress with all of the block given: it was cut short.
  if (rc == Z_BUF_ERROR && all_given) return QmInflated::kNotZlib;
  return std::nullopt;
}

// Decodes a block of packed_len bytes as one zlib stream into `out`: from
// `in` when it holds them all, else a chunk at a time through
// read(chunk, n).
template <typename Read>
QmInflated InflateStreaming(Read read, const unsigned char* in,
                            std::uint32_t packed_len, std::uint64_t raw_len,
                            OutputWindow& out) {
  InflateStream stream;
  z_stream& z = stream.z();
  std::uint64_t left = packed_len;  // bytes of the block not yet read
  unsigned char chunk[kInflateChunk];
  if (in != nullptr) {
    z.next_in = in;
    z.avail_in = packed_len;
    left = 0;
  }
  for (;;) {
    if (z.avail_in == 0 && left > 0) {
      const auto n =
          static_cast<uInt>(std::min<std::uint64_t>(left, sizeof chunk));
      read(chunk, n);
      z.next_in = chunk;
      z.avail_in = n;
      left -= n;
    }
    out.Refill(z);
    const bool into_spare = out.IntoSpare(z);
    const uInt before = z.avail_out;
    const int rc = inflate(&z, Z_NO_FLUSH);
    if (into_spare && z.avail_out != before) return QmInflated::kLonger;
    if (!into_spare) out.Count(before - z.avail_out);
    if (rc == Z_STREAM_END) break;
    if (const auto ended = Verdict(rc, z.avail_in == 0 && left == 0)) {
      return *ended;
    }
  }
  if (z.avail_in != 0 || left != 0) return QmInflated::kTrailingBytes;
  return out.produced() == raw_len ? QmInflated::kDone : QmInflated::kShorter;
}

}  // namespace

QmRTArchiveBulk::Inflated QmRTArchiveBulk::Inflate(QmRTArchive& ar,
                                                   std::uint32_t packed_len,
                                                   std::uint64_t raw_len,
                                                   QmInflateSink& sink) {
  if (ar.m_storing != 0) ar.RefuseDirection("read of a compressed block");
  // The compressed bytes: in place when the get area holds the block, else
  // read whole when the stream vouches for a short one, else a chunk at a
  // time while decoding.
  const unsigned char* in = Impl::TakeInPlace(ar, packed_len);
  std::size_t room_size = 0;
  unsigned char* room = raw_len > 0 ? sink.Room(0, &room_size) : nullptr;
  std::unique_ptr<unsigned char[]> whole;
  if (in == nullptr && room_size >= raw_len && packed_len <= kWholeBlockLimit &&
      BytesLeft(ar, packed_len) >= static_cast<std::int64_t>(packed_len)) {
    whole.reset(new unsigned char[packed_len == 0 ? 1 : packed_len]);
    Impl::Get(ar, whole.get(), packed_len);
    in = whole.get();
  }
  // All of the output at once and all of the input at hand: one call to the
  // backend's decoder, the fast path. Only its failures are decoded again
  // as a stream, which tells them apart.
  if (in != nullptr && room_size >= raw_len) {
    unsigned char none = 0;
    qmdata::detail::ZlibCodec codec;
    if (codec.DecompressTo(in, packed_len, room != nullptr ? room : &none,
                           raw_len)) {
      return Inflated::kDone;
    }
  }
  OutputWindow out(raw_len, sink, room, room_size);
  return InflateStreaming(
      [&ar](unsigned char* chunk, uInt n) { Impl::Get(ar, chunk, n); }, in,
      packed_len, raw_len, out);
}
