// SPDX-License-Identifier: MIT
// QmInflateSink and QmInflated: where a decoded compressed block goes, and
// how its decoding ended. QmRTArchiveBulk::Inflate (rtarchive/bulk.h) takes
// the one and returns the other; record code that decodes a block another
// way (another archive library's CZLibCompression::Decompress) reports
// through the same two. Needs nothing of the archive itself.

#ifndef QMDATA_RTARCHIVE_INFLATE_SINK_H_
#define QMDATA_RTARCHIVE_INFLATE_SINK_H_

#include <cstddef>

// Holds a decoded block.
class QmInflateSink {
 public:
  // A buffer of `size` > 0 bytes for the first `size` bytes of the decoded
  // block. A later call asks for a larger one, which replaces it: what the
  // earlier buffer held may be dropped. A call for the whole raw length is
  // the last. It may throw (std::bad_alloc, say); Inflate passes the
  // exception on.
  virtual unsigned char* Room(std::size_t size) = 0;

  virtual ~QmInflateSink() = default;

 protected:
  QmInflateSink() = default;
  QmInflateSink(const QmInflateSink&) = default;
  QmInflateSink& operator=(const QmInflateSink&) = default;
  QmInflateSink(QmInflateSink&&) = default;
  QmInflateSink& operator=(QmInflateSink&&) = default;
};

// How decoding a block of raw_len bytes ended.
enum class QmInflated {
  kDone,              // one zlib stream of exactly raw_len bytes
  kNotZlib,           // not a stream the build's decoder accepts
  kPresetDictionary,  // the stream asks for a dictionary it does not hold
  kLonger,            // it decodes to more than raw_len bytes
  kShorter,           // it decodes to fewer than raw_len bytes
  kTrailingBytes,     // it ends before the block's last byte
  kRefused,           // a decoder that only says yes or no said no; never
                      // from QmRTArchiveBulk::Inflate, which tells why
};

#endif  // QMDATA_RTARCHIVE_INFLATE_SINK_H_
