// SPDX-License-Identifier: MIT
// CZLibCompression: whole-block zlib (RFC 1950) compression at level 6.
//
//   CZLibCompression z;
//   unsigned long packed_len = 0;
//   void* packed = nullptr;
//   if (z.Compress(raw, raw_len, packed_len, &packed)) { ... }
//   // packed stays valid until z is destroyed; never free it yourself.
//
// The backend is libdeflate where the build found it, zlib otherwise; both
// write and read the same stream format, so either reads the other's output.
//
// Decompress allocates raw_len bytes for a stream that can produce them;
// record code that must not allocate for an unproven claim decodes through
// QmRTArchiveBulk::Inflate (rtarchive/bulk.h) instead.
//
// Thread safety: one object is used by one thread at a time; distinct
// objects are independent.

#ifndef QMDATA_RTARCHIVE_COMPRESSION_H_
#define QMDATA_RTARCHIVE_COMPRESSION_H_

#include "rtarchive/export.h"

class QMDATA_RTARCHIVE_EXPORT CZLibCompression {
 public:
  // Allocates nothing and never throws.
  CZLibCompression();
  // Frees every block this object handed out.
  virtual ~CZLibCompression();
  CZLibCompression(const CZLibCompression&) = delete;
  CZLibCompression& operator=(const CZLibCompression&) = delete;

  // Compresses in[0, in_len) into a zlib stream. true: out_len and *out hold
  // the stream (an empty input gives a valid stream of no bytes). false (no
  // memory, or an input too large): out_len and *out are left as they were.
  bool Compress(const void* in, unsigned long in_len, unsigned long& out_len,
                void** out);
  // Decompresses the zlib stream in[0, in_len), which must decode to exactly
  // raw_len bytes. true: *out holds raw_len bytes. false (corrupt or
  // truncated stream, a different decoded length, or a raw_len that the
  // stream could not possibly produce): *out is left as it was.
  bool Decompress(void* in, unsigned long in_len, unsigned long raw_len,
                  void** out);
  // "libdeflate" or "zlib": the backend this build uses.
  static const char* Backend();

 private:
  struct Blocks;
  // m_blocks, made on first use; null when there is no memory for it.
  Blocks* EnsureBlocks();
  Blocks* m_blocks;  // blocks handed out, freed by the destructor; may be null
};

#endif  // QMDATA_RTARCHIVE_COMPRESSION_H_
