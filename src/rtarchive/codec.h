// SPDX-License-Identifier: MIT
// The zlib-stream codec behind CZLibCompression. Internal; not installed.
//
// One implementation per backend, each in its own file: codec_libdeflate.cpp
// or codec_zlib.cpp; the build compiles the one QMDATA_COMPRESSION chose.
// Both write and read the same zlib streams (RFC 1950) at level 6.

#ifndef QMDATA_SRC_RTARCHIVE_CODEC_H_
#define QMDATA_SRC_RTARCHIVE_CODEC_H_

namespace qmdata::detail {

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

  // Decodes the stream in[0, in_len) into out[0, raw_len); true only when it
  // is a whole stream, ends exactly at in_len and yields exactly raw_len
  // bytes. REQUIRES: in and out are not null.
  bool DecompressTo(const void* in, unsigned long in_len, void* out,
                    unsigned long raw_len);

 private:
  // State a backend keeps between calls (libdeflate's compressor and
  // decompressor); unused by the others.
  void* m_compressor = nullptr;
  void* m_decompressor = nullptr;
};

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RTARCHIVE_CODEC_H_
