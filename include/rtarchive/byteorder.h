// SPDX-License-Identifier: MIT
// The archive's fixed-width byte order: 32-bit values least significant byte
// first, built from shifts so that the bytes are the same on every host.
// Shared by the archive's inline int operators and its out-of-line code.

#ifndef QMDATA_RTARCHIVE_BYTEORDER_H_
#define QMDATA_RTARCHIVE_BYTEORDER_H_

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

}  // namespace qmdata::detail

#endif  // QMDATA_RTARCHIVE_BYTEORDER_H_
