// Size bounds of zlib streams (RFC 1950 around deflate), shared by the
// compressor and the compressed vector record, which refuse claimed lengths
// before allocating for them. Internal; never installed.

#ifndef QMDATA_RTARCHIVE_ZLIB_BOUNDS_H_
#define QMDATA_RTARCHIVE_ZLIB_BOUNDS_H_

#include <cstdint>

namespace qmdata::detail {

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

#endif  // QMDATA_RTARCHIVE_ZLIB_BOUNDS_H_
