// SPDX-License-Identifier: MIT
// The records' one failure policy. Internal; not installed.
//
// Every record runs its body through GuardRecord: whatever the body throws
// (a refused check, the archive's own error, an allocation failure, a nested
// record's -1, a caller's stream buffer's exception) leaves as the int -1,
// and the reason is noted for QmLastRecordFailure (qmdata/failure.h). The
// body says where it stands with RecordSteps::Item, so that the reason can
// name the item and its byte offset, and refuses what it cannot accept with
// RecordSteps::Refuse.

#ifndef QMDATA_SRC_RECORDS_RECORD_FAILURE_H_
#define QMDATA_SRC_RECORDS_RECORD_FAILURE_H_

#include <cstdint>
#include <string>
#include <type_traits>

#include "records/archive_adapter.h"

// The exception that pthread_cancel and pthread_exit unwind a thread with,
// where the C++ runtime has one (libstdc++, MinGW's included); a handler
// that swallowed it would abort the process.
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define QMDATA_FORCED_UNWIND 1  // NOLINT(cppcoreguidelines-macro-usage)
// A handler of the forced unwind binds its reference to no object, which
// UBSan's null check reports: functions with such a handler skip that
// check, and are not inlined into functions that make it.
#define QMDATA_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null"), noinline))  // NOLINT(cppcoreguidelines-macro-usage)
#else
#define QMDATA_FORCED_UNWIND 0  // NOLINT(cppcoreguidelines-macro-usage)
#define QMDATA_CATCHES_FORCED_UNWIND  // NOLINT(cppcoreguidelines-macro-usage)
#endif

namespace qmdata::detail {

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
  // The current item holds what the record cannot accept. Throws; `sentence`
  // says so in words ("version 2 is above 1").
  [[noreturn]] void Refuse(std::string expected, std::string found,
                           std::string sentence) const;
  // The same, with a hint that follows the offset in parentheses: what the
  // bytes look like instead ("are the records read in the order they were
  // written?").
  [[noreturn]] void Refuse(std::string expected, std::string found,
                           std::string sentence, std::string hint) const;
  // The record's handler: passes a thread's forced unwind on unchanged;
  // notes any other exception being handled as this record's failure, with
  // probe's hint where given (NoteHint), and throws the int -1. Call only
  // from a handler.
  [[noreturn]] void Fail(std::string (*probe)(void* context,
                                              std::uint64_t consumed),
                         void* context) const;
  // Notes the exception being handled as this record's failure. Call only
  // from a handler.
  void NoteCurrentException() const noexcept;
  // After NoteCurrentException: runs probe(consumed), given the bytes the
  // record consumed, and adds what it returns, unless empty, as the
  // failure's hint. Failures noted while it runs are forgotten, and a probe
  // runs no probe of its own. Call only from a handler.
  void NoteHint(std::string (*probe)(void* context, std::uint64_t consumed),
                void* context) const;
  QmRTArchive& archive() const { return m_ar; }

 private:
  const char* m_record;
  QmRTArchive& m_ar;
  const char* m_item = "the record";
  std::uint64_t m_size = 0;
  std::int64_t m_at;
  std::int64_t m_start;  // the record's first byte
  // Failures noted on this thread before the record began; a nested
  // record's failure raises it.
  std::uint64_t m_failures_before;
};

// Reads nothing: refuses a version above `newest` for the current item.
void CheckVersion(const RecordSteps& at, int version, int newest);

// Throws the int -1, noting why, when `ar` loads: a const `what` cannot be
// loaded into.
void RefuseConstLoad(const char* record, QmRTArchive& ar, const char* what);

// GuardRecord without a probe.
struct NoProbe {};

// Runs body(steps); any exception leaves as the int -1 with its reason
// noted, except a thread's forced unwind, which passes unchanged. A probe,
// a callable std::string(std::uint64_t consumed), may add a hint
// (RecordSteps::NoteHint); it runs only on failure.
template <typename Body, typename Probe = NoProbe>
void GuardRecord(const char* record, QmRTArchive& ar, Body&& body,
                 Probe&& probe = {}) {
  RecordSteps steps(record, ar);
  try {
    body(steps);
  } catch (...) {
    if constexpr (std::is_same_v<std::decay_t<Probe>, NoProbe>) {
      steps.Fail(nullptr, nullptr);
    } else {
      using P = std::remove_reference_t<Probe>;
      steps.Fail(
          [](void* p, std::uint64_t consumed) {
            return (*static_cast<P*>(p))(consumed);
          },
          const_cast<std::remove_const_t<P>*>(&probe));  // NOLINT(cppcoreguidelines-pro-type-const-cast)
    }
  }
}

}  // namespace qmdata::detail

#endif  // QMDATA_SRC_RECORDS_RECORD_FAILURE_H_
