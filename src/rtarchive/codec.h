// SPDX-License-Identifier: MIT
// The zlib-stream codec behind CZLibCompression. Internal; not installed.
//
// One implementation per backend, each in its own file: codec_libdeflate.cpp
// or codec_zlib.cpp; the build compiles the one QMDATA_COMPRESSION chose.
// Both write and read the same zlib streams (RFC 1950) at level 6.

#ifndef QMDATA_SRC_RTARCHIVE_CODEC_H_
#define QMDATA_SRC_RTARCHIVE_CODEC_H_

#include <cstddef>

namespace qmdata::detail {

// How one call of Decode ended.
enum class DecodeEnd {
  kStreamEnd,  // the stream ended, its adler32 matching
  kNoRoom,     // the output needs more than the room given
  kBadData,    // anything else, a stream cut short included
  kNoMemory,   // the decoder could not get its state
};

class ZlibCodec {
 public:
  ZlibCodec() = default;
  ~ZlibCodec();
  ZlibCodec(const ZlibCodec&) = delete;
  ZlibCodec& operator=(const ZlibCodec&) = delete;

  // "libdeflate" or "zlib".
  static const char* Name();

  // The most bytes the stream of in_len bytes may take; 0 when in_len is too
  // large or there is no memory for the codec.
  unsigned long Bound(unsigned long in_len);
  // Compresses in[0, in_len) into out[0, capacity) and returns the stream's
  // size; 0 when it does not fit. REQUIRES: in and out are not null.
  unsigned long CompressTo(const void* in, unsigned long in_len, void* out,
                           unsigned long capacity);

  // Decodes the zlib stream at the start of in[0, in_len) into
  // out[0, room) in one call, whatever the room: the result depends on the
  // bytes alone, and a larger room only lets a longer output through. On
  // kStreamEnd, *used is the stream's length and *written its output's.
  // REQUIRES: in and out are not null.
  DecodeEnd Decode(const void* in, std::size_t in_len, void* out,
                   std::size_t room, std::size_t* used, std::size_t* written);

  // True only when in[0, in_len) is one whole stream, ending exactly at
  // in_len, that yields exactly raw_len bytes into out.
  bool DecompressTo(const void* in, std::size_t in_len, void* out,
                    std::size_t raw_len) {
    std::size_t used = 0;
    std::size_t written = 0;
    return Decode(in, in_len, out, raw_len, &used, &written) ==
               DecodeEnd::kStreamEnd &&
           used == in_len && written == raw_len;
  }

 private:
  // State a backend keeps between calls (libdeflate's compressor and
  // decompressor); unused by the others.
  [[maybe_unused]] void* m_compressor = nullptr;
  [[maybe_unused]] void* m_decompressor = nullptr;
};

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RTARCHIVE_CODEC_H_
