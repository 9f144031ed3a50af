// SPDX-License-Identifier: MIT
// How far a size read from the input is trusted before the input has backed
// it. Internal; not installed. Shared by the archive library and the
// records.

#ifndef QMDATA_SRC_QMDATA_CLAIMS_H_
#define QMDATA_SRC_QMDATA_CLAIMS_H_

#include <cstdint>

namespace qmdata::detail {

// Deflate expands at most about 1032:1 (a 258-byte match costs at least two
// bits), so a zlib stream of packed bytes decodes to at most
// packed * 1032 + 64 bytes. A packed length is 32 bits, so this fits 64.
constexpr std::uint64_t kDeflateMaxExpansion = 1032;
constexpr std::uint64_t kDeflateExpansionSlack = 64;
constexpr std::uint64_t DeflateMaxOutput(std::uint64_t packed) {
  return packed * kDeflateMaxExpansion + kDeflateExpansionSlack;
}

// Memory for a claim the input has not backed yet grows in steps: the first
// of kFirstStep bytes, each later one as large as everything held before it
// (so what is held doubles). A reader that stops because the input ran out,
// or turned out not to decode that far, then holds at most about twice what
// the input did back, plus kFirstStep.
constexpr std::uint64_t kFirstStep = std::uint64_t{16} * 1024;
constexpr std::uint64_t NextStep(std::uint64_t held) {
  return held < kFirstStep ? kFirstStep : held;
}

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_QMDATA_CLAIMS_H_
