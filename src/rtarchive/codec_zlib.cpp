// SPDX-License-Identifier: MIT
// The zlib-stream codec through zlib itself, the fallback where libdeflate
// is not packaged.

#define ZLIB_CONST
#include <zlib.h>

#include <cassert>
#include <climits>
#include <cstddef>

#include "rtarchive/codec.h"

namespace qmdata::detail {

namespace {
constexpr int kLevel = 6;

// After Z_BUF_ERROR, no progress: true when for want of output room, false
// when, with the output complete, for want of the stream's remaining input
// (its adler32, say). One byte of scratch room tells which: only a stream
// with more output writes it.
bool WantsRoom(z_stream& z) {
  if (z.avail_out != 0) return false;
  Bytef scratch = 0;
  z.next_out = &scratch;
  z.avail_out = 1;
  inflate(&z, Z_NO_FLUSH);
  return z.avail_out == 0;
}
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

DecodeEnd ZlibCodec::Decode(const void* in, std::size_t in_len, void* out,
                            std::size_t room, std::size_t* used,
                            std::size_t* written) {
  assert(in != nullptr && out != nullptr);
  z_stream z{};
  const int init = inflateInit(&z);
  if (init != Z_OK) {
    return init == Z_MEM_ERROR ? DecodeEnd::kNoMemory : DecodeEnd::kBadData;
  }
  z.next_in = static_cast<const Bytef*>(in);
  z.next_out = static_cast<Bytef*>(out);
  std::size_t in_left = in_len;
  std::size_t out_left = room;
  int rc = Z_OK;
  // avail_in and avail_out are 32-bit: larger blocks go in pieces. The whole
  // output lies in one buffer, so a match may reach back over all of it, as
  // with one call.
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
  *used = in_len - in_left - z.avail_in;
  *written = room - out_left - z.avail_out;
  const bool wants_room = rc == Z_BUF_ERROR && out_left == 0 && WantsRoom(z);
  inflateEnd(&z);
  if (rc == Z_STREAM_END) return DecodeEnd::kStreamEnd;
  if (rc == Z_MEM_ERROR) return DecodeEnd::kNoMemory;
  return wants_room ? DecodeEnd::kNoRoom : DecodeEnd::kBadData;
}

}  // namespace qmdata::detail
