// Fixed-width little-endian encoding of 32-bit values, built from shifts so
// that the bytes are the same on every host. Internal; never installed.

#ifndef QMDATA_RTARCHIVE_CODING_H_
#define QMDATA_RTARCHIVE_CODING_H_

#include <cstdint>

namespace qmdata::detail {

// Bytes in one encoded int, unsigned long or length field.
constexpr unsigned kFixed32Size = 4;

// Writes value to dst[0, 4), least significant byte first.
inline void EncodeFixed32(unsigned char* dst, std::uint32_t value) {
  dst[0] = static_cast<unsigned char>(value & 0xFF);
  dst[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
  dst[2] = static_cast<unsigned char>((value >> 16) & 0xFF);
  dst[3] = static_cast<unsigned char>((value >> 24) & 0xFF);
}

// Reads the value that EncodeFixed32 wrote to src[0, 4).
inline std::uint32_t DecodeFixed32(const unsigned char* src) {
  return static_cast<std::uint32_t>(src[0]) |
         (static_cast<std::uint32_t>(src[1]) << 8) |
         (static_cast<std::uint32_t>(src[2]) << 16) |
         (static_cast<std::uint32_t>(src[3]) << 24);
}

// True on hosts whose int is stored least significant byte first, where a
// block of ints already has the archive's byte layout.
constexpr bool kHostLittleEndian =
#if defined(__BYTE_ORDER__) && defined(__ORDER_LITTLE_ENDIAN__)
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#elif defined(_WIN32)
    true;
#else
    false;
#endif

// Size bounds of zlib streams (RFC 1950 around deflate), used to refuse
// claimed lengths before allocating for them.

// Deflate cannot expand data by more than about 1032:1 (a 258-byte match
// costs at least two bits), so a stream of packed_len bytes decodes to at
// most packed_len * 1032 + 64 bytes.
constexpr std::uint64_t kDeflateMaxExpansion = 1032;
constexpr std::uint64_t kDeflateExpansionSlack = 64;

// False when no packed_len-byte zlib stream can decode to raw_len bytes.
constexpr bool ZlibRawLengthPossible(std::uint64_t packed_len,
                                     std::uint64_t raw_len) {
  return packed_len != 0 &&  // every stream has a header
         (packed_len >=
              (UINT64_MAX - kDeflateExpansionSlack) / kDeflateMaxExpansion ||
          raw_len <=
              packed_len * kDeflateMaxExpansion + kDeflateExpansionSlack);
}

// Every zlib writer at any level stays below raw + raw / 8 + 1024 bytes
// (stored blocks cost 5 bytes per 64 KiB, plus header and checksum).
constexpr bool ZlibPackedLengthPossible(std::uint64_t raw_len,
                                        std::uint64_t packed_len) {
  return raw_len > UINT64_MAX / 2 || packed_len <= raw_len + raw_len / 8 + 1024;
}

}  // namespace qmdata::detail

#endif  // QMDATA_RTARCHIVE_CODING_H_
