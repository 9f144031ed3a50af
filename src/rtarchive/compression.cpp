// SPDX-License-Identifier: MIT
// CZLibCompression: whole-block zlib streams at compression level 6, through
// the backend the build chose (rtarchive/codec.h). This file keeps the
// blocks handed out and checks the arguments; the codec does the rest.

#include "rtarchive/compression.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "qmdata/claims.h"
#include "rtarchive/codec.h"

namespace {

// A raw length beyond deflate's largest expansion of packed_len bytes is
// refused before its block is allocated.
bool RawLengthPossible(std::uint64_t packed_len, std::uint64_t raw_len) {
  using qmdata::detail::kDeflateMaxExpansion;
  if (packed_len == 0) return false;  // every stream has a header
  return packed_len >= UINT64_MAX / kDeflateMaxExpansion ||
         raw_len <= qmdata::detail::DeflateMaxOutput(packed_len);
}

}  // namespace

struct CZLibCompression::Blocks {
  std::vector<void*> handed_out;  // malloc'd, freed by the destructor

  Blocks() = default;
  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;
  ~Blocks() {
    for (void* p : handed_out) std::free(p);
  }

  // Takes p into the list of blocks handed out; frees it and returns false
  // when even that list has no memory.
  bool Adopt(void* p) {
    try {
      handed_out.push_back(p);
      return true;
    } catch (...) {
      std::free(p);
      return false;
    }
  }
};

// The bookkeeping is made by the first call that needs it: a compressor
// that only decodes into its caller's buffer (the vector record's loader)
// takes no allocation at all.
CZLibCompression::CZLibCompression() : m_blocks(nullptr) {}

CZLibCompression::Blocks* CZLibCompression::EnsureBlocks() {
  // The throwing form, caught: it reaches a program's replacement of the
  // global operator new, which some runtimes' nothrow form bypasses.
  if (m_blocks == nullptr) {
    try {
      m_blocks = new Blocks;
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return m_blocks;
}

CZLibCompression::~CZLibCompression() { delete m_blocks; }

const char* CZLibCompression::Backend() {
  return qmdata::detail::ZlibCodec::Name();
}

bool CZLibCompression::Compress(const void* in, unsigned long in_len,
                                unsigned long& out_len, void** out) {
  if (out == nullptr || (in == nullptr && in_len != 0)) return false;
  static const unsigned char kNothing = 0;
  if (in_len == 0) in = &kNothing;
  Blocks* blocks = EnsureBlocks();
  if (blocks == nullptr) return false;
  // A codec per call: its state is the thread's, lent and given back.
  qmdata::detail::ZlibCodec codec;
  const unsigned long bound = codec.Bound(in_len);
  if (bound == 0) return false;
  void* block = std::malloc(bound);
  if (block == nullptr) return false;
  const unsigned long n = codec.CompressTo(in, in_len, block, bound);
  if (n == 0) {
    std::free(block);
    return false;
  }
  if (!blocks->Adopt(block)) return false;
  out_len = n;
  *out = block;
  return true;
}

bool CZLibCompression::Decompress(void* in, unsigned long in_len,
                                  unsigned long raw_len, void** out) {
  if (out == nullptr) return false;
  if (!RawLengthPossible(in_len, raw_len)) return false;
  Blocks* blocks = EnsureBlocks();
  if (blocks == nullptr) return false;
  void* block = std::malloc(raw_len == 0 ? 1 : raw_len);
  if (block == nullptr) return false;
  qmdata::detail::ZlibCodec codec;
  if (in == nullptr || !codec.DecompressTo(in, in_len, block, raw_len)) {
    std::free(block);
    return false;
  }
  if (!blocks->Adopt(block)) return false;
  *out = block;
  return true;
}
