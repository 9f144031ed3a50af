// SPDX-License-Identifier: MIT
// The second archive library's compressor: zlib's compress2 and uncompress.

#ifndef ALTARCHIVE_RTARCHIVE_COMPRESSION_H_
#define ALTARCHIVE_RTARCHIVE_COMPRESSION_H_

#include <vector>

#include "rtarchive/archive.h"

class ALTARCHIVE_EXPORT CZLibCompression {
 public:
  CZLibCompression();
  virtual ~CZLibCompression();
  CZLibCompression(const CZLibCompression&) = delete;
  CZLibCompression& operator=(const CZLibCompression&) = delete;

  bool Compress(const void* in, unsigned long in_len, unsigned long& out_len,
                void** out);
  bool Decompress(void* in, unsigned long in_len, unsigned long raw_len,
                  void** out);

 private:
  std::vector<void*> m_blocks;  // handed out, freed by the destructor
};

#endif  // ALTARCHIVE_RTARCHIVE_COMPRESSION_H_
