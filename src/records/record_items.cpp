// SPDX-License-Identifier: MIT
// The shared items' failure reasons.

#include "records/record_items.h"

namespace qmdata::detail {

std::string Quoted(const char* s) {
  static const char kHex[] = "0123456789abcdef";
  std::string q = "\"";
  for (; *s != '\0'; ++s) {
    const auto c = static_cast<unsigned char>(*s);
    if (c < 0x20 || c >= 0x7F) {
      q += "\\x";
      q += kHex[c >> 4];
      q += kHex[c & 0xF];
    } else {
      q += static_cast<char>(c);
    }
  }
  return q + "\"";
}

std::string Bytes(std::uint64_t n) {
  return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

void RefuseTag(const RecordSteps& at, const char* tag, const char* found) {
  const std::string want = Quoted(tag);
  const std::string got = Quoted(found);
  at.Refuse("tag " + got + " is not " + want, want, got);
}

void RefuseUnlessHeld(const RecordSteps& at, std::int64_t left,
                      std::uint64_t needed, const char* item) {
  if (left >= 0 && static_cast<std::uint64_t>(left) < needed) {
    const std::string want = Bytes(needed);
    at.Refuse(std::string(item) + " needs " + want + ", the stream holds only " +
                  std::to_string(left) + " (truncated)",
              want, Bytes(static_cast<std::uint64_t>(left)));
  }
}

namespace {

// How a block that decoded otherwise than to its raw length is described.
const char* DecodedAs(QmInflated d) {
  switch (d) {
    case QmInflated::kDone:
      break;
    case QmInflated::kNotZlib:
      return "is not a complete zlib stream";
    case QmInflated::kPresetDictionary:
      return "is a zlib stream that needs a preset dictionary";
    case QmInflated::kLonger:
      return "decodes to more than the raw length";
    case QmInflated::kShorter:
      return "decodes to less than the raw length";
    case QmInflated::kTrailingBytes:
      return "holds bytes after the end of its zlib stream";
    case QmInflated::kRefused:
      return "was refused by the decompressor";
  }
  return "";
}

}  // namespace

void RefuseDecoded(const RecordSteps& at, QmInflated d, std::uint64_t raw) {
  if (d == QmInflated::kDone) return;
  const std::string what = DecodedAs(d);
  const std::string bytes = Bytes(raw);
  at.Refuse("the compressed block " + what + " (" + bytes + ")",
            "a zlib stream of " + bytes, "a block that " + what);
}

}  // namespace qmdata::detail
