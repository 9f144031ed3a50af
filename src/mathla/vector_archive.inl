// QmMathLA::vector: archive members. Included once, by vector.cpp. The
// record layouts are described in docs/FORMAT.md ("Vector record").
//
// Loading reads the elements into a fresh local vector and puts it in place
// (assigns it to this vector) only once every element is in, so a failed load
// leaves the vector as it was and no element the input did not carry.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "mathla/vector.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"
#include "rtarchive/zlib_bounds.h"

namespace QmMathLA {

namespace {
namespace vector_record {

using Vec = vector<int>;

constexpr char kStartTag[] = "<StartVector>";
constexpr char kEndTag[] = "<EndVector>";
// A tag is read into 20 bytes: at most 19 characters and the NUL.
constexpr unsigned kTagLimit = 19;
constexpr std::uint64_t kBytesPerElem = 4;
// Counts from here on cannot be held by one block (4 GiB and more).
constexpr int kCountLimit = 0x40000000;
// Claims of up to this many bytes get their block at once: a fixed amount,
// whatever the stream can vouch for.
constexpr std::uint64_t kSmallClaim = std::uint64_t{16} * 1024;
// A claim the stream cannot vouch for is read in pieces that double from the
// first size up to the last, so memory grows with the bytes that arrive.
constexpr std::size_t kFirstPiece = std::size_t{16} * 1024;
constexpr std::size_t kLargestPiece = std::size_t{64} * 1024 * 1024;
// A compressed record with a compressed length of 0 loads as count zeros;
// such a record is 48 bytes whatever its count, so its count is capped at
// 4 Mi elements (16 MiB of zeros).
constexpr int kMaxZeroRecordCount = 4 * 1024 * 1024;

// Items of E read in pieces that double in size, then moved into one block.
template <typename E>
class Pieces {
 public:
  // Reads count items through read(E* dst, std::size_t n), piece by piece.
  template <typename Read>
  void Fill(std::size_t count, Read read) {
    std::size_t next = kFirstPiece / sizeof(E);
    for (std::size_t got = 0; got < count;) {
      const std::size_t k = count - got < next ? count - got : next;
      m_parts.emplace_back();  // may throw; nothing is owned yet
      m_parts.back().reset(new E[k]);
      m_sizes.push_back(k);
      read(m_parts.back().get(), k);
      got += k;
      if (next < kLargestPiece / sizeof(E)) next *= 2;
    }
  }
  // Copies every piece to dst in order, freeing each once copied.
  void MoveTo(E* dst) {
    for (std::size_t i = 0; i < m_parts.size(); ++i) {
      std::memcpy(dst, m_parts[i].get(), m_sizes[i] * sizeof(E));
      dst += m_sizes[i];
      m_parts[i].reset();
    }
  }

 private:
  std::vector<std::unique_ptr<E[]>> m_parts;
  std::vector<std::size_t> m_sizes;
};

void WriteTag(QmRTArchive& ar, const char* tag) { ar.WriteString(tag); }

// Reads a tag and throws -1 unless it equals tag as a NUL-terminated string.
void ReadTag(QmRTArchive& ar, const char* tag) {
  char buf[kTagLimit + 1];
  ar.ReadString(buf, kTagLimit);
  if (std::strcmp(buf, tag) != 0) throw -1;
}

// --- storing ---------------------------------------------------------------

void WriteHeader(QmRTArchive& ar, int n) {
  WriteTag(ar, kStartTag);
  ar << Vec::GetVersion();
  ar << n;
}

void StorePlain(QmRTArchive& ar, const int* data, int n) {
  WriteHeader(ar, n);
  if (n > 0) ar.WriteInts(data, static_cast<std::size_t>(n));
  WriteTag(ar, kEndTag);
}

void StoreCompressed(QmRTArchive& ar, const int* data, int n) {
  WriteHeader(ar, n);
  const unsigned long raw_len =
      n > 0 ? static_cast<unsigned long>(n) * kBytesPerElem : 0;
  // Compressed where they lie unless the archive's byte order differs.
  const void* raw = data;
  std::unique_ptr<int[]> converted;
  if (n > 0 && ar.ConvertsInts()) {
    converted.reset(new int[static_cast<std::size_t>(n)]);
    std::memcpy(converted.get(), data, raw_len);
    ar.ToArchiveOrder(converted.get(), static_cast<std::size_t>(n));
    raw = converted.get();
  }
  CZLibCompression z;
  ar << raw_len;
  unsigned long packed_len = 0;
  void* packed = nullptr;
  // A record without its elements would load as zeros: refuse instead.
  if (!z.Compress(raw, raw_len, packed_len, &packed)) throw -1;
  converted.reset();
  ar << packed_len;
  ar.Write(packed, static_cast<unsigned>(packed_len));
  WriteTag(ar, kEndTag);
}

// --- loading ---------------------------------------------------------------

// Start tag, version and count; returns the count as stored.
int ReadHeader(QmRTArchive& ar) {
  ReadTag(ar, kStartTag);
  int version = 0;
  ar >> version;
  if (version > Vec::GetVersion()) throw -1;
  int n = 0;
  ar >> n;
  if (n >= kCountLimit) throw -1;
  return n;
}

// The n > 0 elements of a plain record in a fresh vector. The block is taken
// at once for a small claim or one the stream vouches for; otherwise the
// elements arrive in pieces and the block is taken once all are in.
Vec ReadElements(QmRTArchive& ar, int n) {
  const auto count = static_cast<std::size_t>(n);
  const std::uint64_t bytes = count * kBytesPerElem;
  const bool small = bytes <= kSmallClaim;
  if (!small && !ar.MayHold(bytes)) throw -1;
  const bool at_once = small || ar.Holds(bytes);
  Pieces<int> pieces;
  if (!at_once) {
    pieces.Fill(count, [&](int* dst, std::size_t k) { ar.ReadInts(dst, k); });
  }
  Vec loaded(n, nullptr, 0);  // one named result: returned without a share
  if (at_once) {
    ar.ReadInts(&loaded[0], count);
  } else {
    pieces.MoveTo(&loaded[0]);
  }
  return loaded;
}

// The compressed record's two lengths, checked before anything is allocated
// for them.
struct Sizes {
  unsigned long raw = 0;
  unsigned long packed = 0;
};

Sizes ReadSizes(QmRTArchive& ar, int n) {
  Sizes s;
  ar >> s.raw;
  ar >> s.packed;
  using qmdata::detail::ZlibPackedLengthPossible;
  using qmdata::detail::ZlibRawLengthPossible;
  if (!ZlibPackedLengthPossible(s.raw, s.packed)) throw -1;
  if (!ar.MayHold(s.packed)) throw -1;
  if (n <= 0) return s;  // no elements: the block is read and dropped
  if (s.raw != static_cast<std::uint64_t>(n) * kBytesPerElem) throw -1;
  if (s.packed == 0 && n > kMaxZeroRecordCount) throw -1;
  if (s.packed > 0 && !ZlibRawLengthPossible(s.packed, s.raw)) throw -1;
  return s;
}

// The compressed block, taken from the stream once: where the stream's get
// area holds it, in place; otherwise read into a block of its own.
struct Packed {
  const void* data = nullptr;
  std::unique_ptr<unsigned char[]> owned;
};

Packed ReadBlock(QmRTArchive& ar, unsigned long len) {
  Packed p;
  if (len == 0) return p;
  p.data = ar.ReadInPlace(len);
  if (p.data != nullptr) return p;
  const auto n = static_cast<unsigned>(len);
  if (len <= kSmallClaim || ar.Holds(len)) {
    p.owned.reset(new unsigned char[len]);
    ar.Read(p.owned.get(), n);
  } else {
    Pieces<unsigned char> pieces;
    pieces.Fill(len, [&](unsigned char* dst, std::size_t k) {
      ar.Read(dst, static_cast<unsigned>(k));
    });
    p.owned.reset(new unsigned char[len]);
    pieces.MoveTo(p.owned.get());
  }
  p.data = p.owned.get();
  return p;
}

// Reads and drops len bytes, a piece at a time.
void SkipBlock(QmRTArchive& ar, unsigned long len) {
  if (ar.ReadInPlace(len) != nullptr) return;
  unsigned char piece[4096];
  for (unsigned long left = len; left > 0;) {
    const unsigned step =
        left < sizeof piece ? static_cast<unsigned>(left) : sizeof piece;
    ar.Read(piece, step);
    left -= step;
  }
}

// The n > 0 elements decompressed straight into a fresh vector; a compressed
// length of 0 (written when compression failed) gives n zeros.
Vec Decode(QmRTArchive& ar, const Packed& block, const Sizes& s, int n) {
  Vec loaded(n, nullptr, 0);
  int* data = &loaded[0];
  if (s.packed == 0) {
    loaded.zero();
    return loaded;
  }
  CZLibCompression z;
  if (!z.DecompressTo(block.data, s.packed, data, s.raw)) throw -1;
  ar.FromArchiveOrder(data, static_cast<std::size_t>(n));
  return loaded;
}

Vec LoadCompressedElements(QmRTArchive& ar, int n) {
  const Sizes s = ReadSizes(ar, n);
  if (n <= 0) {
    SkipBlock(ar, s.packed);
    return Vec();
  }
  const Packed block = ReadBlock(ar, s.packed);
  return Decode(ar, block, s, n);
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
  try {
    if (ar.m_storing != 0) {
      if (compressed) {
        StoreCompressed(ar, m_data, m_n);
      } else {
        StorePlain(ar, m_data, m_n);
      }
      return;
    }
    const int n = ReadHeader(ar);
    vector loaded = compressed ? LoadCompressedElements(ar, n)
                    : n > 0    ? ReadElements(ar, n)
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
    ReadTag(ar, kEndTag);
  } catch (...) {
    throw -1;
  }
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
