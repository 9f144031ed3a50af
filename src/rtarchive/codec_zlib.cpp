// SPDX-License-Identifier: MIT
// The zlib-stream codec through zlib itself, the fallback where libdeflate
// is not packaged.

#include <zlib.h>

#include <cassert>
#include <climits>

#include "rtarchive/codec.h"

namespace qmdata::detail {

namespace {
constexpr int kLevel = 6;
}  // namespace

ZlibCodec::~ZlibCodec() = default;

const char* ZlibCodec::Name() { return "zlib"; }

unsigned long ZlibCodec::Bound(unsigned long in_len) {
  return in_len > ULONG_MAX / 2 ? 0 : compressBound(in_len);
}

unsigned long ZlibCodec::CompressTo(const void* in, unsigned long in_len,
                                    void* out, unsigned long capacity) {
  assert(in != nullptr && out != nullptr);
  uLongf n = capacity;
  return compress2(static_cast<Bytef*>(out), &n, static_cast<const Bytef*>(in),
                   in_len, kLevel) == Z_OK
             ? n
             : 0;
}

bool ZlibCodec::DecompressTo(const void* in, unsigned long in_len, void* out,
                             unsigned long raw_len) {
  assert(in != nullptr && out != nullptr);
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
}

}  // namespace qmdata::detail
