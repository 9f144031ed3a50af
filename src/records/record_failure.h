// SPDX-License-Identifier: MIT
// The records' one failure policy; internal, not installed. A record's body
// marks each item with RecordSteps::Item and refuses what it cannot accept
// with RecordSteps::Refuse, which throws one value, a RecordFault. The body
// runs inside GuardRecord, whose one handler turns that value, or any other
// exception, into the thread's QmLastRecordFailure and throws -1.

#ifndef QMDATA_SRC_RECORDS_RECORD_FAILURE_H_
#define QMDATA_SRC_RECORDS_RECORD_FAILURE_H_

#include <cstdint>
#include <string>

#include "records/archive_adapter.h"

namespace qmdata::detail {

// What the record needed and found (short phrases, empty when there is
// nothing to compare), one sentence on what went wrong, and the failing
// item's byte offset (-1 where the archive does not tell).
struct RecordFault {
  std::string expected;
  std::string found;
  std::string sentence;
  long long offset;
};

class RecordSteps {
 public:
  RecordSteps(const char* record, QmRTArchive& ar);
  RecordSteps(const RecordSteps&) = delete;
  RecordSteps& operator=(const RecordSteps&) = delete;
  ~RecordSteps() = default;

  // The record is about to move its next item: its name as the subject of
  // a sentence ("the version") and its size in bytes where it is known.
  void Item(const char* name, std::uint64_t size = 0) {
    m_item = name;
    m_size = size;
    m_at = ArchiveOffset(m_ar);
  }
  // Throws the current item's RecordFault.
  [[noreturn]] void Refuse(std::string sentence, std::string expected = "",
                           std::string found = "") const;
  // GuardRecord's handler: passes a thread's forced unwind on; notes any
  // other exception being handled as this record's failure and throws -1.
  [[noreturn]] void Fail() const;

 private:
  const char* m_record;
  QmRTArchive& m_ar;
  const char* m_item = "the record";
  std::uint64_t m_size = 0;
  std::int64_t m_at;
  // Failures noted on this thread before the record began; a nested
  // record's failure raises it.
  std::uint64_t m_failures_before;
};

// Reads nothing: refuses a version above `newest` for the current item.
void CheckVersion(const RecordSteps& at, int version, int newest);

// Throws -1, noting why, when `ar` loads: a const `what` takes no load.
void RefuseConstLoad(const char* record, QmRTArchive& ar, const char* what);

// Runs body(steps); any exception leaves as the int -1 with its reason
// noted, except a thread's forced unwind, which passes unchanged.
template <typename Body>
void GuardRecord(const char* record, QmRTArchive& ar, Body&& body) {
  RecordSteps steps(record, ar);
  try {
    body(steps);
  } catch (...) {
    steps.Fail();
  }
}

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_RECORD_FAILURE_H_
