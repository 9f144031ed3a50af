// CZLibCompression: whole-block zlib streams through libdeflate (when the
// build defines QMDATA_USE_LIBDEFLATE) or zlib, at compression level 6.

#include "rtarchive/compression.h"

#include <climits>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "rtarchive/coding.h"

#ifdef QMDATA_USE_LIBDEFLATE
#include <libdeflate.h>
#else
#include <zlib.h>
#endif

namespace {

constexpr int kLevel = 6;

#ifdef QMDATA_USE_LIBDEFLATE
// A level-6 compressor takes longer to set up than compressing a few KiB,
// and callers make one CZLibCompression per record; so each thread keeps one
// compressor and one decompressor between objects. An object borrows them on
// first use and gives them back (or frees them) when destroyed.
struct ThreadCodecs {
  libdeflate_compressor* compressor = nullptr;
  libdeflate_decompressor* decompressor = nullptr;
  ~ThreadCodecs();
};
thread_local ThreadCodecs t_codecs;
// Set once the thread's codecs are gone, so that objects destroyed later in
// the thread's exit free their own; trivially destructible, always readable.
thread_local bool t_codecs_gone = false;

ThreadCodecs::~ThreadCodecs() {
  t_codecs_gone = true;
  libdeflate_free_compressor(compressor);
  libdeflate_free_decompressor(decompressor);
}

// Keeps codec in the thread's slot when that is free, else frees it.
template <typename Codec>
void GiveBack(Codec* codec, Codec*& slot, void (*release)(Codec*)) {
  if (codec == nullptr) return;
  if (!t_codecs_gone && slot == nullptr) {
    slot = codec;
  } else {
    release(codec);
  }
}
#endif

}  // namespace

struct CZLibCompression::Blocks {
  std::vector<void*> handed_out;  // malloc'd, freed by the destructor
#ifdef QMDATA_USE_LIBDEFLATE
  libdeflate_compressor* compressor = nullptr;
  libdeflate_decompressor* decompressor = nullptr;
#endif

  ~Blocks() {
    for (void* p : handed_out) std::free(p);
#ifdef QMDATA_USE_LIBDEFLATE
    GiveBack(compressor, t_codecs.compressor, libdeflate_free_compressor);
    GiveBack(decompressor, t_codecs.decompressor, libdeflate_free_decompressor);
#endif
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

CZLibCompression::CZLibCompression() : m_blocks(new Blocks) {}

CZLibCompression::~CZLibCompression() { delete m_blocks; }

const char* CZLibCompression::Backend() {
#ifdef QMDATA_USE_LIBDEFLATE
  return "libdeflate";
#else
  return "zlib";
#endif
}

bool CZLibCompression::Compress(const void* in, unsigned long in_len,
                                unsigned long& out_len, void** out) {
  if (out == nullptr || (in == nullptr && in_len != 0)) return false;
  static const unsigned char kNothing = 0;
  if (in_len == 0) in = &kNothing;
#ifdef QMDATA_USE_LIBDEFLATE
  if (m_blocks->compressor == nullptr && !t_codecs_gone) {
    std::swap(m_blocks->compressor, t_codecs.compressor);
  }
  if (m_blocks->compressor == nullptr) {
    m_blocks->compressor = libdeflate_alloc_compressor(kLevel);
    if (m_blocks->compressor == nullptr) return false;
  }
  if (in_len > ULONG_MAX / 2) return false;
  const std::size_t bound =
      libdeflate_zlib_compress_bound(m_blocks->compressor, in_len);
  void* block = std::malloc(bound);
  if (block == nullptr) return false;
  const std::size_t n =
      libdeflate_zlib_compress(m_blocks->compressor, in, in_len, block, bound);
  if (n == 0) {
    std::free(block);
    return false;
  }
#else
  if (in_len > ULONG_MAX / 2) return false;
  uLongf n = compressBound(in_len);
  void* block = std::malloc(n);
  if (block == nullptr) return false;
  if (compress2(static_cast<Bytef*>(block), &n, static_cast<const Bytef*>(in),
                in_len, kLevel) != Z_OK) {
    std::free(block);
    return false;
  }
#endif
  if (!m_blocks->Keep(block)) return false;
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
#ifdef QMDATA_USE_LIBDEFLATE
  if (m_blocks->decompressor == nullptr && !t_codecs_gone) {
    std::swap(m_blocks->decompressor, t_codecs.decompressor);
  }
  if (m_blocks->decompressor == nullptr) {
    m_blocks->decompressor = libdeflate_alloc_decompressor();
    if (m_blocks->decompressor == nullptr) return false;
  }
  // Without an actual-output pointer libdeflate insists on exactly raw_len
  // bytes; the stream must also end exactly at in_len.
  std::size_t used = 0;
  return libdeflate_zlib_decompress_ex(m_blocks->decompressor, in, in_len, out,
                                       raw_len, &used,
                                       nullptr) == LIBDEFLATE_SUCCESS &&
         used == in_len;
#else
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = static_cast<Bytef*>(const_cast<void*>(in));
  z.next_out = static_cast<Bytef*>(out);
  unsigned long in_left = in_len;
  unsigned long out_left = raw_len;
  int rc = Z_OK;
  // avail_in and avail_out are 32-bit: feed larger blocks in pieces.
  while (rc == Z_OK) {
    if (z.avail_in == 0) {
      z.avail_in = in_left > UINT_MAX ? UINT_MAX : static_cast<uInt>(in_left);
      in_left -= z.avail_in;
    }
    if (z.avail_out == 0) {
      z.avail_out =
          out_left > UINT_MAX ? UINT_MAX : static_cast<uInt>(out_left);
      out_left -= z.avail_out;
    }
    rc = inflate(&z, Z_NO_FLUSH);
  }
  // Z_BUF_ERROR: truncated input, or more output than raw_len.
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0 && in_left == 0 &&
                  z.avail_out == 0 && out_left == 0;
  inflateEnd(&z);
  return ok;
#endif
}

bool CZLibCompression::Decompress(void* in, unsigned long in_len,
                                  unsigned long raw_len, void** out) {
  if (out == nullptr) return false;
  if (!qmdata::detail::ZlibRawLengthPossible(in_len, raw_len)) return false;
  void* block = std::malloc(raw_len == 0 ? 1 : raw_len);
  if (block == nullptr) return false;
  if (!DecompressTo(in, in_len, block, raw_len)) {
    std::free(block);
    return false;
  }
  if (!m_blocks->Keep(block)) return false;
  *out = block;
  return true;
}
