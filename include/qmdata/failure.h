// SPDX-License-Identifier: MIT
// Why the last record failed: the reason behind the records' int -1.
//
// Every record operation (Serialize, ZipIn and UnzipOut of a vector, range
// or slice, their archive operators, and the quality tag's reader) reports
// every failure by throwing the int -1, and only that. Just before it throws,
// it notes on the calling thread why, the way errno works:
//
//   try {
//     in >> slice;
//   } catch (int) {
//     std::cerr << QmLastRecordFailure().message << "\n";
//     // "slice record: version 2 is above 1 at byte offset 0"
//   }
//
// Thread safety: each thread has its own last failure; nothing is shared.
// Nothing is logged, and a success leaves the last failure as it was.

#ifndef QMDATA_QMDATA_FAILURE_H_
#define QMDATA_QMDATA_FAILURE_H_

#include "qmdata/export.h"

// One record failure. The strings are the library's; they stay valid and
// unchanged until the same thread's next record failure or
// QmClearRecordFailure. When there has been none, every string is empty and
// offset is -1.
struct QmRecordFailure {
  // The record that failed, outermost first: "vector record", "range
  // record", "slice record / vector record", "quality tag".
  const char* record;
  // What the record needed there and what it found, each a short phrase
  // ("version 1 or below", "version 2"); empty when there is nothing to
  // compare, as for a stream error.
  const char* expected;
  const char* found;
  // The byte offset of the failing item, counted from where the archive
  // began, where the archive tells it; -1 otherwise.
  long long offset;
  // All of it as one line: the record, what went wrong and the offset.
  const char* message;
};

// The calling thread's last record failure.
QMDATA_EXPORT QmRecordFailure QmLastRecordFailure() noexcept;
// Forgets it (then QmLastRecordFailure reports none).
QMDATA_EXPORT void QmClearRecordFailure() noexcept;

#endif  // QMDATA_QMDATA_FAILURE_H_
