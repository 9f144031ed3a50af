// CZLibCompression: whole-block zlib streams at compression level 6, through
// the backend the build chose (rtarchive/codec.h). This file keeps the
// blocks handed out and checks the arguments; the codec does the rest.

#include "rtarchive/compression.h"

#include <cstdlib>
#include <new>
#include <vector>

#include "rtarchive/codec.h"
#include "rtarchive/zlib_bounds.h"

struct CZLibCompression::Blocks {
  std::vector<void*> handed_out;  // malloc'd, freed by the destructor

  Blocks() = default;
  Blocks(const Blocks&) = delete;
  Blocks& operator=(const Blocks&) = delete;
  ~Blocks() {
    for (void* p : handed_out) std::free(p);
  }

  // Records p as handed out; frees it and returns false when even that
  // bookkeeping has no memory.
  bool Keep(void* p) {
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

CZLibCompression::Blocks* CZLibCompression::Book() {
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
  Blocks* book = Book();
  if (book == nullptr) return false;
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
  if (!book->Keep(block)) return false;
  out_len = n;
  *out = block;
  return true;
}

bool CZLibCompression::DecompressTo(const void* in, unsigned long in_len,
                                    void* out, unsigned long raw_len) {
  if (in == nullptr || (out == nullptr && raw_len != 0)) return false;
  if (!qmdata::detail::ZlibRawLengthPossible(in_len, raw_len)) return false;
  unsigned char spare = 0;
  if (raw_len == 0) out = &spare;
  qmdata::detail::ZlibCodec codec;
  return codec.DecompressTo(in, in_len, out, raw_len);
}

bool CZLibCompression::Decompress(void* in, unsigned long in_len,
                                  unsigned long raw_len, void** out) {
  if (out == nullptr) return false;
  if (!qmdata::detail::ZlibRawLengthPossible(in_len, raw_len)) return false;
  Blocks* book = Book();
  if (book == nullptr) return false;
  void* block = std::malloc(raw_len == 0 ? 1 : raw_len);
  if (block == nullptr) return false;
  if (!DecompressTo(in, in_len, block, raw_len)) {
    std::free(block);
    return false;
  }
  if (!book->Keep(block)) return false;
  *out = block;
  return true;
}
