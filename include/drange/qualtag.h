// SPDX-License-Identifier: MIT
// qmo_qualtag: the quality tag that callers keep with their data, and its
// archive operators.
//
//   qmo_qualtag q = qmo_qual_good;
//   out << q;   // writes the int 1
//   in >> q;    // reads 0 or 1; anything else throws the int -1
//
// The tag is held in 32 bits; a tag holding any other value (through a cast)
// is well defined and is written as 0. For a tag variable the operator alone
// picks the direction; the archive's storing flag is not consulted. A const
// tag or a temporary can only be stored, and only to a storing archive.
//
// Thread safety: the operators touch only their arguments.

#ifndef QMDATA_DRANGE_QUALTAG_H_
#define QMDATA_DRANGE_QUALTAG_H_

#include <cstdint>

#include "qmdata/export.h"

class QmRTArchive;

enum qmo_qualtag : std::int32_t {
  qmo_qual_bad = 0,
  qmo_qual_good = 1,
};

// Writes the int 1 for a tag of 1 and 0 for anything else. Archive
// exceptions reach the caller unchanged; on a loading archive that is the
// QmArchiveError the archive throws before touching the stream.
QMDATA_EXPORT QmRTArchive& operator<<(QmRTArchive& archive, qmo_qualtag& tag);
// For const tags, enumerators and casts such as static_cast<qmo_qualtag>(5):
// without it they would bind to the archive's operator<<(int) and store the
// raw value. Writes 1 or 0 as above on a storing archive; on a loading
// archive it throws the int -1 before touching the stream.
QMDATA_EXPORT QmRTArchive& operator<<(QmRTArchive& archive,
                                      const qmo_qualtag& tag);
// Reads one int into tag when it is 0 or 1. Any other value, or any archive
// failure, throws the int -1 and leaves tag unchanged; QmLastRecordFailure
// (qmdata/failure.h) says why.
QMDATA_EXPORT QmRTArchive& operator>>(QmRTArchive& archive, qmo_qualtag& tag);

#endif  // QMDATA_DRANGE_QUALTAG_H_
