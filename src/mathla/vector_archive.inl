// SPDX-License-Identifier: MIT
// QmMathLA::vector: archive members. Included once, by vector.cpp. The
// record layouts are described in docs/FORMAT.md ("Vector record").
//
// Loading reads the elements into a fresh local vector and puts it in place
// (assigns it to this vector) only once every element is in, so a failed load
// leaves the vector as it was and no element the input did not carry. Claims
// are trusted only as far as the input backs them (qmdata/claims.h): a block
// is allocated at once when it is small or the stream vouches for its bytes,
// and otherwise grows with what arrives (plain records) or with what the
// compressed block has actually decoded to (compressed records).

#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "mathla/vector.h"
#include "mathla/vector_limits.h"
#include "qmdata/claims.h"
#include "records/archive_adapter.h"
#include "records/pieces.h"
#include "records/record_failure.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

namespace QmMathLA {

namespace {
namespace vector_record {

using Vec = vector<int>;
using qmdata::detail::RecordSteps;

constexpr char kStartTag[] = "<StartVector>";
constexpr char kEndTag[] = "<EndVector>";
constexpr std::uint64_t kBytesPerElem = 4;
// Claims of up to this many bytes get their block at once: a fixed amount,
// whatever the stream can vouch for.
constexpr std::uint64_t kSmallClaim = std::uint64_t{16} * 1024;
// A compressed record with a compressed length of 0 loads as count zeros;
// such a record is 48 bytes whatever its count, so its count is capped at
// 4 Mi elements (16 MiB of zeros).
constexpr int kMaxZeroRecordCount = 4 * 1024 * 1024;

// The raw block of a compressed record holds each element least significant
// byte first. On a host that stores ints otherwise the elements are
// converted in place; the conversion is its own inverse.
void ConvertRawBlock(int* data, std::size_t n) {
  if constexpr (std::endian::native != std::endian::little) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto u = static_cast<std::uint32_t>(data[i]);
      const unsigned char bytes[4] = {static_cast<unsigned char>(u),
                                      static_cast<unsigned char>(u >> 8),
                                      static_cast<unsigned char>(u >> 16),
                                      static_cast<unsigned char>(u >> 24)};
      std::memcpy(&data[i], bytes, sizeof bytes);
    }
  } else {
    static_cast<void>(data);
    static_cast<void>(n);
  }
}

// --- checks ----------------------------------------------------------------

// A tag is read into 20 bytes: at most 19 characters and the NUL.
constexpr unsigned kTagLimit = 19;

// "1 byte", "n bytes".
std::string Bytes(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

// s as a quoted string, with control and non-ASCII bytes as \xHH.
std::string Quoted(const char* s) {
  static const char kHex[] = "0123456789abcdef";
  std::string q = "\"";
  for (; *s != '\0'; ++s) {
    const auto c = static_cast<unsigned char>(*s);
    if (c < 0x20 || c >= 0x7F) {
      q += "\\x";
      q += kHex[c >> 4];
      q += kHex[c & 0xF];
    } else {
      q += static_cast<char>(c);
    }
  }
  return q + "\"";
}

// Refuses the tag `found` read where `tag` belongs.
[[noreturn]] void RefuseTag(const RecordSteps& at, const char* tag,
                            const char* found) {
  const std::string want = Quoted(tag);
  const std::string got = Quoted(found);
  at.Refuse("tag " + got + " is not " + want, want, got);
}

// Reads a tag and refuses it unless it equals tag as a NUL-terminated string.
// The comparison is of the tag's N bytes with its NUL against a zeroed
// buffer: the same as strcmp, in a few loads instead of a call.
template <std::size_t N>
void ReadTag(const RecordSteps& at, QmRTArchive& ar, const char (&tag)[N]) {
  static_assert(N <= kTagLimit + 1);
  char buf[kTagLimit + 1] = {};
  ar.ReadString(buf, kTagLimit);
  if (std::memcmp(buf, tag, N) != 0) RefuseTag(at, tag, buf);
}

// Refuses a claim of `needed` bytes for `item` that the stream says it
// cannot hold: `left` bytes (BytesLeft; -1 accepts any claim).
void RefuseUnlessHeld(const RecordSteps& at, std::int64_t left,
                      std::uint64_t needed, const char* item) {
  if (left >= 0 && static_cast<std::uint64_t>(left) < needed) {
    const std::string want = Bytes(needed);
    at.Refuse(std::string(item) + " needs " + want +
                  ", the stream holds only " + std::to_string(left) +
                  " (truncated)",
              want, Bytes(static_cast<std::uint64_t>(left)));
  }
}

// Refuses a compressed block that did not decode to exactly raw bytes.
void RefuseDecoded(const RecordSteps& at, QmInflated d, std::uint64_t raw) {
  const char* what = "";
  switch (d) {
    case QmInflated::kDone:
      return;
    case QmInflated::kNotZlib:
      what = "is not a complete zlib stream";
      break;
    case QmInflated::kPresetDictionary:
      what = "is a zlib stream that needs a preset dictionary";
      break;
    case QmInflated::kLonger:
      what = "decodes to more than the raw length";
      break;
    case QmInflated::kShorter:
      what = "decodes to less than the raw length";
      break;
    case QmInflated::kTrailingBytes:
      what = "holds bytes after the end of its zlib stream";
      break;
    case QmInflated::kRefused:
      what = "was refused by the decompressor";
      break;
  }
  const std::string bytes = Bytes(raw);
  at.Refuse("the compressed block " + std::string(what) + " (" + bytes + ")",
            "a zlib stream of " + bytes, "a block that " + std::string(what));
}

// --- storing ---------------------------------------------------------------

void WriteHeader(RecordSteps& at, QmRTArchive& ar, int n) {
  // Such a count cannot come from a vector; refused before anything is
  // written, since no loader would accept the record.
  if (n >= kMaxElems) {
    const std::string found = "count " + std::to_string(n);
    at.Refuse(found + " is too large to store",
              "a count below " + std::to_string(kMaxElems), found);
  }
  at.Item("the start tag");
  ar.WriteString(kStartTag);
  at.Item("the version", 4);
  ar << Vec::GetVersion();
  at.Item("the count", 4);
  ar << n;
}

void StorePlain(RecordSteps& at, QmRTArchive& ar, const int* data, int n) {
  WriteHeader(at, ar, n);
  if (n > 0) {
    at.Item("the element block", static_cast<std::uint64_t>(n) * kBytesPerElem);
    qmdata::detail::WriteInts(ar, data, static_cast<std::size_t>(n));
  }
  at.Item("the end tag");
  ar.WriteString(kEndTag);
}

void StoreCompressed(RecordSteps& at, QmRTArchive& ar, const int* data, int n) {
  WriteHeader(at, ar, n);
  static const int kNothing = 0;
  const unsigned long raw_len =
      n > 0 ? static_cast<unsigned long>(n) * kBytesPerElem : 0;
  // Compressed where they lie unless the host's byte order differs.
  const void* raw = n > 0 ? data : &kNothing;
  std::unique_ptr<int[]> converted;
  if (n > 0 && std::endian::native != std::endian::little) {
    converted.reset(new int[static_cast<std::size_t>(n)]);
    std::memcpy(converted.get(), data, raw_len);
    ConvertRawBlock(converted.get(), static_cast<std::size_t>(n));
    raw = converted.get();
  }
  CZLibCompression z;
  at.Item("the raw length", 4);
  ar << raw_len;
  unsigned long packed_len = 0;
  void* packed = nullptr;
  // A record without its elements would load as zeros: refuse instead.
  if (!z.Compress(raw, raw_len, packed_len, &packed)) {
    at.Refuse("the compressor failed on " + Bytes(raw_len));
  }
  converted.reset();
  at.Item("the compressed length", 4);
  ar << packed_len;
  at.Item("the compressed block", packed_len);
  ar.Write(packed, static_cast<unsigned>(packed_len));
  at.Item("the end tag");
  ar.WriteString(kEndTag);
}

// --- loading ---------------------------------------------------------------

// Start tag, version and count; returns the count as stored.
int ReadHeader(RecordSteps& at, QmRTArchive& ar) {
  at.Item("the start tag");
  ReadTag(at, ar, kStartTag);
  at.Item("the version", 4);
  int version = 0;
  ar >> version;
  qmdata::detail::CheckVersion(at, version, Vec::GetVersion());
  at.Item("the count", 4);
  int n = 0;
  ar >> n;
  if (n >= kMaxElems) {
    const std::string found = "count " + std::to_string(n);
    const std::string limit = std::to_string(kMaxElems);
    at.Refuse(found + " is not below " + limit + " (a block of 4 GiB or more)",
              "a count below " + limit, found);
  }
  return n;
}

// The n > 0 elements of a plain record in a fresh vector. The block is taken
// at once for a small claim or one the stream vouches for; otherwise the
// elements arrive in pieces and the block is taken once all are in.
Vec ReadElements(RecordSteps& at, QmRTArchive& ar, int n) {
  const auto count = static_cast<std::size_t>(n);
  const std::uint64_t bytes = count * kBytesPerElem;
  at.Item("the element block", bytes);
  const bool small = bytes <= kSmallClaim;
  const std::int64_t left = small ? -1 : qmdata::detail::BytesLeft(ar, bytes);
  RefuseUnlessHeld(at, left, bytes, "the element block");
  qmdata::detail::Pieces<int> pieces;
  const bool at_once = small || left >= 0;
  if (!at_once) {
    pieces.Fill(count, [&](int* dst, std::size_t k) {
      qmdata::detail::ReadInts(ar, dst, k);
    });
  }
  Vec loaded(n, nullptr, 0);  // one named result: returned without a share
  if (at_once) {
    qmdata::detail::ReadInts(ar, &loaded[0], count);
  } else {
    pieces.MoveTo(&loaded[0]);
  }
  return loaded;
}

// Where a compressed block's output goes: a room of the size the decoder
// asks for. The room for the whole claim is the vector's fresh block; a
// smaller one, asked for while the decoder cannot yet tell how far the block
// decodes, is scratch, dropped at the next call.
class ElementSink final : public QmInflateSink {
 public:
  explicit ElementSink(int n)
      : m_n(n), m_bytes(static_cast<std::uint64_t>(n) * kBytesPerElem) {}

  unsigned char* Room(std::size_t size) override {
    m_scratch.reset();
    if (size < m_bytes) {
      m_scratch.reset(new unsigned char[size]);
      return m_scratch.get();
    }
    m_loaded = Vec(m_n, nullptr, 0);
    return reinterpret_cast<unsigned char*>(&m_loaded[0]);
  }

  // The vector holding every decoded byte. REQUIRES: the whole claim was
  // decoded.
  Vec Take() { return m_loaded; }

 private:
  int m_n;
  std::uint64_t m_bytes;
  std::unique_ptr<unsigned char[]> m_scratch;
  Vec m_loaded;
};

// A compressed record's raw and compressed lengths.
struct BlockLengths {
  std::uint64_t raw;
  std::uint64_t packed;
};

// Reads the lengths of the compressed record of count n and refuses those
// that the count or the stream rule out.
BlockLengths ReadBlockLengths(RecordSteps& at, QmRTArchive& ar, int n) {
  at.Item("the raw length", 4);
  unsigned long raw = 0;
  ar >> raw;
  const std::uint64_t claim =
      n > 0 ? static_cast<std::uint64_t>(n) * kBytesPerElem : 0;
  // Every writer stores count x 4, and 0 for no elements: a count that a
  // damaged byte turned to 0 or below is caught here, not loaded as empty.
  if (raw != claim) {
    at.Refuse("raw length " + std::to_string(raw) +
                  (n > 0 ? " is not 4 x count " : " is not 0 for count ") +
                  std::to_string(n),
              Bytes(claim), Bytes(raw));
  }
  at.Item("the compressed length", 4);
  unsigned long packed = 0;
  ar >> packed;
  // Another archive library's unsigned long may be wider than 32 bits.
  if (static_cast<std::uint64_t>(packed) > 0xFFFFFFFFu) {
    at.Refuse("the compressed length " + std::to_string(packed) +
                  " does not fit 32 bits",
              "at most 4294967295 bytes", Bytes(packed));
  }
  at.Item("the compressed block", packed);
  if (packed > 0) {
    RefuseUnlessHeld(at, qmdata::detail::BytesLeft(ar, packed), packed,
                     "the compressed block");
  }
  return {raw, packed};
}

// The n > 0 zeros of a record without a compressed block, which is written
// when compression failed.
Vec ZeroElements(const RecordSteps& at, int n) {
  if (n > kMaxZeroRecordCount) {
    const std::string limit = std::to_string(kMaxZeroRecordCount);
    const std::string count = std::to_string(n);
    at.Refuse("a record without a compressed block holds at most " + limit +
                  " elements, not " + count,
              "a count of at most " + limit, "count " + count);
  }
  Vec zeros(n, nullptr, 0);
  zeros.zero();
  return zeros;
}

Vec LoadCompressedElements(RecordSteps& at, QmRTArchive& ar, int n) {
  const auto [raw, packed] = ReadBlockLengths(at, ar, n);
  if (n <= 0) {  // no elements: the block is read and dropped
    qmdata::detail::SkipBlock(ar, static_cast<std::uint32_t>(packed));
    return Vec();
  }
  if (packed == 0) return ZeroElements(at, n);
  if (raw > qmdata::detail::DeflateMaxOutput(packed)) {
    const std::string found = Bytes(raw);
    at.Refuse(
        "a compressed block of " + Bytes(packed) + " cannot decode to " + found,
        "a raw length of at most " +
            Bytes(qmdata::detail::DeflateMaxOutput(packed)),
        found);
  }
  ElementSink sink(n);
  RefuseDecoded(at,
                qmdata::detail::DecodeBlock(
                    ar, static_cast<std::uint32_t>(packed), raw, sink),
                raw);
  Vec loaded = sink.Take();
  ConvertRawBlock(&loaded[0], static_cast<std::size_t>(n));
  return loaded;
}

}  // namespace vector_record
}  // namespace

template <typename T>
void vector<T>::Serialize(QmRTArchive& ar) {
  Serialize(ar, false);
}

template <typename T>
void vector<T>::Serialize(QmRTArchive& ar, bool compressed) {
  static_assert(std::is_same_v<T, int>, "the records hold 4-byte ints");
  using namespace vector_record;
  qmdata::detail::GuardRecord("vector record", ar, [&](RecordSteps& at) {
    if (ar.m_storing != 0) {
      if (compressed) {
        StoreCompressed(at, ar, m_data, m_n);
      } else {
        StorePlain(at, ar, m_data, m_n);
      }
      return;
    }
    const int n = ReadHeader(at, ar);
    vector loaded = compressed ? LoadCompressedElements(at, ar, n)
                    : n > 0    ? ReadElements(at, ar, n)
                               : vector();
    // Put in place: this vector lets go of its old block (its other sharers
    // keep it) and takes over the fresh one, whose sole owner is `loaded`,
    // without taking and dropping a share of it.
    popinstance();
    m_n = loaded.m_n;
    m_data = loaded.m_data;
    m_index = 0;
    m_refs = loaded.m_refs;
    m_lock = loaded.m_lock;
    loaded.nullinit();
    at.Item("the end tag");
    ReadTag(at, ar, kEndTag);
  });
}

template <typename T>
void vector<T>::ZipIn(QmRTArchive& ar) {
  Serialize(ar, true);
}

template <typename T>
void vector<T>::UnzipOut(QmRTArchive& ar) {
  Serialize(ar, true);
}

}  // namespace QmMathLA
