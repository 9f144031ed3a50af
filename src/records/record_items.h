// SPDX-License-Identifier: MIT
// Items that records share, read and refused the same way by each: tags,
// claimed sizes and compressed blocks. Internal; not installed.

#ifndef QMDATA_SRC_RECORDS_RECORD_ITEMS_H_
#define QMDATA_SRC_RECORDS_RECORD_ITEMS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "records/archive_adapter.h"
#include "records/record_failure.h"

namespace qmdata::detail {

// A tag is read into 20 bytes: at most 19 characters and the NUL.
constexpr unsigned kTagLimit = 19;

// s as a quoted string, with control and non-ASCII bytes as \xHH.
std::string Quoted(const char* s);

// "1 byte", "n bytes".
std::string Bytes(std::uint64_t n);

// Refuses the tag `found` read where `tag` belongs.
[[noreturn]] void RefuseTag(const RecordSteps& at, const char* tag,
                            const char* found);

// Reads a tag and refuses it unless it equals tag as a NUL-terminated string.
// The comparison is of the tag's N bytes with its NUL against a zeroed
// buffer: the same as strcmp, in a few loads instead of a call.
template <std::size_t N>
void ReadTag(const RecordSteps& at, QmRTArchive& ar, const char (&tag)[N]) {
  static_assert(N <= kTagLimit + 1);
  char buf[kTagLimit + 1] = {};
  ar.ReadString(buf, kTagLimit);
  if (std::memcmp(buf, tag, N) != 0) RefuseTag(at, tag, buf);
}

// Refuses a claim of `needed` bytes for `item` that the stream says it
// cannot hold: `left` bytes (BytesLeft; -1 accepts any claim).
void RefuseUnlessHeld(const RecordSteps& at, std::int64_t left,
                      std::uint64_t needed, const char* item);

// Refuses a compressed block that did not decode to exactly raw bytes.
void RefuseDecoded(const RecordSteps& at, QmInflated d, std::uint64_t raw);

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_RECORD_ITEMS_H_
