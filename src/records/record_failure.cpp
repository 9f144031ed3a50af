// SPDX-License-Identifier: MIT
// The records' failure reasons, one per thread (qmdata/failure.h).

#include "records/record_failure.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "qmdata/failure.h"

// The exception that pthread_cancel and pthread_exit unwind a thread with,
// where the C++ runtime has one (libstdc++, MinGW's included); a handler
// that swallowed it would abort the process. Its handler binds a reference
// to no object, which UBSan's null check reports: the function with that
// handler skips the check, and is not inlined into functions that make it.
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define QMDATA_FORCED_UNWIND 1  // NOLINT(cppcoreguidelines-macro-usage)
#define QMDATA_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null"), noinline))  // NOLINT(cppcoreguidelines-macro-usage)
#else
#define QMDATA_FORCED_UNWIND 0  // NOLINT(cppcoreguidelines-macro-usage)
#define QMDATA_CATCHES_FORCED_UNWIND  // NOLINT(cppcoreguidelines-macro-usage)
#endif

namespace qmdata::detail {

namespace {

// The last failure on a thread, touched only by that thread, in buffers of
// its own: noting a failure allocates nothing that outlives it. A failure
// without a record is one there was no memory to describe.
constexpr QmRecordFailure kNone{{}, {}, {}, -1, {}};
constinit thread_local QmRecordFailure t_failure = kNone;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
// Failures noted on this thread so far. Every record reads it when it
// starts, so it is kept apart in initial-exec TLS where the platform has it:
// one load relative to the thread pointer.
#if defined(__GNUC__) && !defined(_WIN32)
constinit thread_local std::uint64_t t_failures  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
    __attribute__((tls_model("initial-exec"))) = 0;
#else
constinit thread_local std::uint64_t t_failures = 0;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
#endif

// Copies s into dst, NUL-terminated; a text too long for dst is cut and
// ends in "...".
template <std::size_t N>
void CopyCut(char (&dst)[N], std::string_view s) noexcept {
  if (s.size() < N) {
    std::memcpy(dst, s.data(), s.size());
    dst[s.size()] = '\0';
    return;
  }
  std::memcpy(dst, s.data(), N - 4);
  std::memcpy(dst + N - 4, "...", 4);
}

// Replaces the thread's noted failure with `record`'s fault.
void Store(const char* record, const RecordFault& fault) {
  std::string message = std::string(record) + ": " + fault.sentence;
  if (fault.offset >= 0)
    message += " at byte offset " + std::to_string(fault.offset);
  // Nothing can fail from here on: the reason is replaced as a whole.
  QmRecordFailure& f = t_failure;
  CopyCut(f.record, record);
  CopyCut(f.expected, fault.expected);
  CopyCut(f.found, fault.found);
  CopyCut(f.message, message);
  f.offset = fault.offset;
}

// Makes `record` the context of the nested record's noted failure.
void NoteAsContext(const char* record) {
  QmRecordFailure& f = t_failure;
  const std::string prefix = std::string(record) + " / ";
  const std::string outer = prefix + f.record;
  const std::string message = prefix + f.message;
  CopyCut(f.record, outer);
  CopyCut(f.message, message);
}

// Notes `record`'s fault as the thread's failure or, where a nested record
// noted its own already, `record` as that failure's context.
void Note(const char* record, const RecordFault& fault, bool nested) {
  if (!nested) return Store(record, fault);
  // Unless the nested record had no memory to note its failure.
  if (t_failure.record[0] != '\0') NoteAsContext(record);
}

void NoteWithoutMemory() noexcept {
  t_failure = kNone;
  CopyCut(t_failure.message,
          "a record failed, and there was no memory to say why");
}

}  // namespace

RecordSteps::RecordSteps(const char* record, QmRTArchive& ar)
    : m_record(record),
      m_ar(ar),
      m_at(ArchiveOffset(ar)),
      m_failures_before(t_failures) {}

void RecordSteps::Refuse(std::string sentence, std::string expected,
                         std::string found) const {
  throw RecordFault{std::move(expected), std::move(found), std::move(sentence),
                    m_at};
}

QMDATA_CATCHES_FORCED_UNWIND void RecordSteps::Fail() const {
  try {
    RecordFault fault{"", "", "", m_at};  // no allocation before the rethrow
    bool nested = false;  // a nested record's -1, its failure noted already
    try {
      // Called only from GuardRecord's handler: there is one to rethrow.
      // cppcheck-suppress rethrowNoCurrentException
      throw;
    } catch (const RecordFault& refused) {
      fault = refused;
    } catch (int thrown) {
      nested = t_failures != m_failures_before;
      fault.sentence = std::string(m_item) + ": the archive threw the int " +
                       std::to_string(thrown);
    } catch (const std::bad_alloc&) {
      fault.sentence = std::string("no memory for ") + m_item;
      if (m_size != 0)
        fault.sentence += " (" + std::to_string(m_size) + " bytes)";
    } catch (const std::exception& e) {
      if (!DescribeArchiveError(e, m_item, m_size, &fault))
        fault.sentence = std::string(m_item) + ": " + e.what();
#if QMDATA_FORCED_UNWIND
    } catch (const abi::__forced_unwind&) {
      throw;
#endif
    } catch (...) {
      fault.sentence = std::string(m_item) +
                       ": an exception that is not a std::exception (from "
                       "the stream buffer?)";
    }
    Note(m_record, fault, nested);
  } catch (const std::exception&) {  // no memory for the reason
    NoteWithoutMemory();
  }
  ++t_failures;
  throw -1;  // NOLINT(hicpp-exception-baseclass): the records' contract
}

void CheckVersion(const RecordSteps& at, int version, int newest) {
  if (version <= newest) return;
  const std::string v = "version " + std::to_string(version);
  const std::string n = std::to_string(newest);
  at.Refuse(v + " is above " + n, "version " + n + " or below", v);
}

void RefuseConstLoad(const char* record, QmRTArchive& ar, const char* what) {
  if (ar.m_storing != 0) return;
  GuardRecord(record, ar, [&](const RecordSteps& at) {
    at.Refuse(std::string("a const ") + what + " cannot be loaded",
              "a storing archive", "a loading archive");
  });
}

}  // namespace qmdata::detail

QmRecordFailure QmLastRecordFailure() noexcept {
  return qmdata::detail::t_failure;
}

void QmClearRecordFailure() noexcept {
  qmdata::detail::t_failure = qmdata::detail::kNone;
}
