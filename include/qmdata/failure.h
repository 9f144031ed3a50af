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

// One record failure, a value that holds its own text: a copy stays valid
// and unchanged for as long as it is kept, on any thread, also after the
// thread that failed has ended. Each text is NUL-terminated; one too long
// for its field is cut and ends in "...". When there has been no failure,
// every text is empty and offset is -1.
//
// The struct is about 900 bytes: keep one by value, not in every element
// of a large container.
struct QmRecordFailure {
  // The record that failed, outermost first: "vector record", "range
  // record", "slice record / vector record", "quality tag".
  char record[96];
  // What the record needed there and what it found, each a short phrase
  // ("version 1 or below", "version 2"); empty when there is nothing to
  // compare, as for a stream error.
  char expected[128];
  char found[128];
  // The byte offset of the failing item, counted from where the archive
  // began, where the archive tells it; -1 otherwise.
  long long offset;
  // All of it as one line: the record, what went wrong and the offset.
  char message[512];
};

// The calling thread's last record failure.
QMDATA_EXPORT QmRecordFailure QmLastRecordFailure() noexcept;
// Forgets it (then QmLastRecordFailure reports none).
QMDATA_EXPORT void QmClearRecordFailure() noexcept;

#endif  // QMDATA_QMDATA_FAILURE_H_
