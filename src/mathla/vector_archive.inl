// QmMathLA::vector: archive members. Included once, by vector.cpp. The
// record layouts are described in docs/FORMAT.md ("Vector record").

#include <cstdint>
#include <cstring>
#include <memory>

#include "mathla/vector.h"
#include "rtarchive/archive.h"
#include "rtarchive/coding.h"
#include "rtarchive/compression.h"

namespace QmMathLA {

namespace {
namespace vector_record {

constexpr char kStartTag[] = "<StartVector>";
constexpr char kEndTag[] = "<EndVector>";
// A tag is read into 20 bytes: at most 19 characters and the NUL.
constexpr unsigned kTagLimit = 19;
constexpr std::uint64_t kBytesPerElem = 4;
// From this count on, the plain loader first asks the stream whether it can
// still hold count * 4 bytes before allocating the block.
constexpr int kProbeCount = 4096;
// A compressed record with a compressed length of 0 loads as count zeros;
// such a record is 48 bytes whatever its count, so its count is capped at
// 4 Mi elements (16 MiB of zeros).
constexpr int kMaxZeroRecordCount = 4 * 1024 * 1024;

void WriteTag(QmRTArchive& ar, const char* tag) { ar.WriteString(tag); }

// Reads a tag and throws -1 unless it equals tag as a NUL-terminated string.
void ReadTag(QmRTArchive& ar, const char* tag) {
  char buf[kTagLimit + 1];
  ar.ReadString(buf, kTagLimit);
  if (std::strcmp(buf, tag) != 0) throw -1;
}

}  // namespace vector_record
}  // namespace

template <typename T>
void vector<T>::Serialize(QmRTArchive& ar) {
  using namespace vector_record;
  try {
    if (ar.m_storing != 0) {
      WriteTag(ar, kStartTag);
      ar << GetVersion();
      ar << m_n;
      const T* data = m_data;
      for (int i = 0; i < m_n; ++i) ar << data[i];
      WriteTag(ar, kEndTag);
      return;
    }
    ReadTag(ar, kStartTag);
    int version = 0;
    ar >> version;
    if (version > GetVersion()) throw -1;
    int n = 0;
    ar >> n;
    if (n >= kProbeCount &&
        !ar.MayHold(static_cast<std::uint64_t>(n) * kBytesPerElem)) {
      throw -1;
    }
    // The fresh block replaces the old one, which its other sharers keep.
    *this = n > 0 ? fresh(n, nullptr) : vector();
    T* data = m_data;
    for (int i = 0; i < n; ++i) ar >> data[i];
    ReadTag(ar, kEndTag);
  } catch (...) {
    throw -1;
  }
}

template <typename T>
void vector<T>::Serialize(QmRTArchive& ar, bool compressed) {
  using namespace vector_record;
  using qmdata::detail::DecodeFixed32;
  using qmdata::detail::EncodeFixed32;
  using qmdata::detail::kHostLittleEndian;
  static_assert(sizeof(T) == kBytesPerElem, "the raw block holds 4-byte ints");
  if (!compressed) {
    Serialize(ar);
    return;
  }
  try {
    if (ar.m_storing != 0) {
      WriteTag(ar, kStartTag);
      ar << GetVersion();
      ar << m_n;
      const unsigned long raw_len =
          m_n > 0 ? static_cast<unsigned long>(m_n) * kBytesPerElem : 0;
      // Little-endian hosts compress the elements where they lie; others
      // first put them in the archive's byte order.
      const void* raw = m_data;
      std::unique_ptr<unsigned char[]> converted;
      if (!kHostLittleEndian && raw_len > 0) {
        converted.reset(new unsigned char[raw_len]);
        for (int i = 0; i < m_n; ++i) {
          EncodeFixed32(converted.get() + i * kBytesPerElem,
                        static_cast<std::uint32_t>(m_data[i]));
        }
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
      return;
    }

    ReadTag(ar, kStartTag);
    int version = 0;
    ar >> version;
    if (version > GetVersion()) throw -1;
    int n = 0;
    ar >> n;
    unsigned long raw_len = 0;
    unsigned long packed_len = 0;
    ar >> raw_len;
    ar >> packed_len;
    const std::uint64_t want =
        n > 0 ? static_cast<std::uint64_t>(n) * kBytesPerElem : 0;
    // Every claimed size is checked before anything is allocated for it.
    if (n > 0 && raw_len != want) throw -1;
    if (!qmdata::detail::ZlibPackedLengthPossible(raw_len, packed_len)) {
      throw -1;
    }
    if (!ar.MayHold(packed_len)) throw -1;
    if (n > 0 && packed_len == 0 && n > kMaxZeroRecordCount) throw -1;
    if (n > 0 && packed_len > 0 &&
        !qmdata::detail::ZlibRawLengthPossible(packed_len, raw_len)) {
      throw -1;
    }

    vector loaded;  // becomes this vector's block only once it is complete
    if (n <= 0) {
      // No elements: the block is read and dropped, a piece at a time.
      unsigned char piece[4096];
      for (unsigned long left = packed_len; left > 0;) {
        const unsigned step =
            left < sizeof piece ? static_cast<unsigned>(left) : sizeof piece;
        ar.Read(piece, step);
        left -= step;
      }
    } else if (packed_len > 0) {
      std::unique_ptr<unsigned char[]> packed(new unsigned char[packed_len]);
      ar.Read(packed.get(), static_cast<unsigned>(packed_len));
      loaded = fresh(n, nullptr);
      CZLibCompression z;
      if (!z.DecompressTo(packed.get(), packed_len, loaded.m_data, raw_len)) {
        throw -1;
      }
      if (!kHostLittleEndian) {
        auto* bytes = reinterpret_cast<unsigned char*>(loaded.m_data);
        for (int i = 0; i < n; ++i) {
          loaded.m_data[i] =
              static_cast<T>(DecodeFixed32(bytes + i * kBytesPerElem));
        }
      }
    } else {
      // Written when compression failed: the elements were lost.
      loaded = fresh(n, nullptr);
      std::memset(loaded.m_data, 0, static_cast<std::size_t>(want));
    }
    *this = loaded;
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
