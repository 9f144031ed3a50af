// SPDX-License-Identifier: MIT
// The zlib-stream codec through libdeflate, which writes and reads the same
// streams as zlib, a whole block per call: its decoder needs neither a
// window of its own nor resumable state, since it has all of the input and
// the output's room at hand.

#include <libdeflate.h>

#include <cassert>
#include <climits>
#include <cstddef>

#include "rtarchive/codec.h"
#include "rtarchive/thread_loan.h"

namespace qmdata::detail {

namespace {

constexpr int kLevel = 6;

using CompressorLoan =
    ThreadLoan<libdeflate_compressor, libdeflate_free_compressor>;
using DecompressorLoan =
    ThreadLoan<libdeflate_decompressor, libdeflate_free_decompressor>;

libdeflate_compressor* NewCompressor() {
  libdeflate_compressor* c = CompressorLoan::Borrow();
  return c != nullptr ? c : libdeflate_alloc_compressor(kLevel);
}

libdeflate_decompressor* NewDecompressor() {
  libdeflate_decompressor* d = DecompressorLoan::Borrow();
  return d != nullptr ? d : libdeflate_alloc_decompressor();
}

}  // namespace

ZlibCodec::~ZlibCodec() {
  CompressorLoan::GiveBack(static_cast<libdeflate_compressor*>(m_compressor));
  DecompressorLoan::GiveBack(
      static_cast<libdeflate_decompressor*>(m_decompressor));
}

const char* ZlibCodec::Name() { return "libdeflate"; }

unsigned long ZlibCodec::Bound(unsigned long in_len) {
  if (m_compressor == nullptr) m_compressor = NewCompressor();
  auto* c = static_cast<libdeflate_compressor*>(m_compressor);
  if (c == nullptr || in_len > ULONG_MAX / 2) return 0;
  return libdeflate_zlib_compress_bound(c, in_len);
}

unsigned long ZlibCodec::CompressTo(const void* in, unsigned long in_len,
                                    void* out, unsigned long capacity) {
  assert(in != nullptr && out != nullptr);
  return libdeflate_zlib_compress(
      static_cast<libdeflate_compressor*>(m_compressor), in, in_len, out,
      capacity);
}

DecodeEnd ZlibCodec::Decode(const void* in, std::size_t in_len, void* out,
                            std::size_t room, std::size_t* used,
                            std::size_t* written) {
  assert(in != nullptr && out != nullptr);
  if (m_decompressor == nullptr) m_decompressor = NewDecompressor();
  auto* d = static_cast<libdeflate_decompressor*>(m_decompressor);
  if (d == nullptr) return DecodeEnd::kNoMemory;
  // With both counts asked for, libdeflate accepts a stream that ends early
  // in the input or the output and says where.
  switch (
      libdeflate_zlib_decompress_ex(d, in, in_len, out, room, used, written)) {
    case LIBDEFLATE_SUCCESS:
      return DecodeEnd::kStreamEnd;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
      return DecodeEnd::kNoRoom;
    default:
      return DecodeEnd::kBadData;
  }
}

}  // namespace qmdata::detail
