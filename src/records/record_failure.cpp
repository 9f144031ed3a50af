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

namespace qmdata::detail {

namespace {

// What RecordSteps::Refuse throws; only GuardRecord catches it.
struct Refusal {
  std::string expected;
  std::string found;
  std::string sentence;
  std::string hint;
};

// The last failure on a thread, in buffers of its own: noting a failure
// allocates nothing that outlives it, and the thread keeps no memory of the
// heap. Longer texts are cut, ending in "...".
struct Failure {
  QmRecordFailure kept;  // what QmLastRecordFailure hands out
  char detail[320];      // what went wrong, without record and offset
  char hint[160];        // what the bytes look like instead; may be empty
  bool no_memory;        // there was no memory to say more
};

// Per-thread state, touched only by its own thread; zero is "none yet".
thread_local Failure t_failure{};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
// Failures noted on this thread so far. Every record reads it when it
// starts, so it is kept apart in initial-exec TLS where the platform has it:
// one load relative to the thread pointer.
#if defined(__GNUC__) && !defined(_WIN32)
constinit thread_local std::uint64_t t_failures  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
    __attribute__((tls_model("initial-exec"))) = 0;
#else
constinit thread_local std::uint64_t t_failures = 0;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
#endif
// True while a probe runs (RecordSteps::NoteHint): its records probe no
// further.
constinit thread_local bool t_probing = false;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

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

std::string Compose(const std::string& record, const std::string& detail,
                    long long offset, const std::string& hint) {
  std::string m = record + ": " + detail;
  if (offset >= 0) m += " at byte offset " + std::to_string(offset);
  if (!hint.empty()) m += " (" + hint + ")";
  return m;
}

}  // namespace

RecordSteps::RecordSteps(const char* record, QmRTArchive& ar)
    : m_record(record),
      m_ar(ar),
      m_at(ArchiveOffset(ar)),
      m_start(m_at),
      m_failures_before(t_failures) {}

void RecordSteps::Refuse(std::string expected, std::string found,
                         std::string sentence) const {
  Refuse(std::move(expected), std::move(found), std::move(sentence), "");
}

void RecordSteps::Refuse(std::string expected, std::string found,
                         std::string sentence, std::string hint) const {
  throw Refusal{std::move(expected), std::move(found), std::move(sentence),
                std::move(hint)};
}

namespace {

// True when the 4 bytes just read, and what follows them, are a vector
// record's start tag: its length, 13, then "<StartVector>".
QMDATA_CATCHES_FORCED_UNWIND bool StartTagWasRead(QmRTArchive& ar) {
  constexpr char kTag[] = "<StartVector>";
  bool tag = false;
  try {
    Reread(ar, 4, [&](QmRTArchive& again) {
      char buf[sizeof kTag + 1] = {};
      again.ReadString(buf, sizeof kTag);
      tag = std::strcmp(buf, kTag) == 0;
    });
#if QMDATA_FORCED_UNWIND
  } catch (const abi::__forced_unwind&) {
    throw;
#endif
  } catch (...) {  // the bytes are not a tag
  }
  return tag;
}

}  // namespace

void CheckVersion(const RecordSteps& at, int version, int newest) {
  if (version <= newest) return;
  const std::string v = std::to_string(version);
  const std::string n = std::to_string(newest);
  std::string sentence = "version " + v + " is above " + n;
  // A version read where a vector record starts: 13 is the tag's length.
  if (version == 13 && StartTagWasRead(at.archive())) {
    at.Refuse("version " + n + " or below", "version " + v,
              sentence + "; the bytes there are a vector record's start tag",
              "are the records read in the order they were written?");
  }
  at.Refuse("version " + n + " or below", "version " + v, sentence);
}

void RefuseConstLoad(const char* record, QmRTArchive& ar, const char* what) {
  if (ar.m_storing != 0) return;
  GuardRecord(record, ar, [&](const RecordSteps& at) {
    at.Refuse("a storing archive", "a loading archive",
              std::string("a const ") + what + " cannot be loaded");
  });
}

QMDATA_CATCHES_FORCED_UNWIND void RecordSteps::Fail(
    std::string (*probe)(void*, std::uint64_t), void* context) const {
#if QMDATA_FORCED_UNWIND
  try {
    // Called only from GuardRecord's handler: there is one to rethrow.
    // cppcheck-suppress rethrowNoCurrentException
    throw;
  } catch (const abi::__forced_unwind&) {
    throw;
  } catch (...) {  // any other exception: noted below
  }
#endif
  NoteCurrentException();
  if (probe != nullptr) NoteHint(probe, context);
  throw -1;  // NOLINT(hicpp-exception-baseclass): the records' contract
}

namespace {

// A failure in words, as a record notes it.
struct Reason {
  std::string expected;
  std::string found;
  std::string detail;
  std::string hint;
  long long offset;
};

// True when the exception being handled is the int that a nested record
// threw after noting its own failure since failures_before, with memory to
// say why.
bool NestedRecordFailed(std::uint64_t failures_before) {
  try {
    // Called only from a handler: there is an exception to rethrow.
    // cppcheck-suppress rethrowNoCurrentException
    throw;
  } catch (int) {
    return t_failures != failures_before && !t_failure.no_memory;
  } catch (...) {
    return false;
  }
}

// Makes `record` the context of the nested record's noted failure.
void NoteAsContext(const char* record) {
  Failure& f = t_failure;
  const std::string outer = std::string(record) + " / " + f.kept.record;
  const std::string message = Compose(outer, f.detail, f.kept.offset, "");
  CopyCut(f.kept.record, outer);
  CopyCut(f.kept.message, message);
  f.hint[0] = '\0';  // the inner record's hint is not this one's
}

#if QMDATA_OWN_ARCHIVE
// The archive's error for `item` (`size` bytes where known), which began at
// byte `at` (-1 where unknown), in words.
Reason DescribeArchiveError(const QmArchiveError& e, const std::string& item,
                            std::uint64_t size, std::int64_t at) {
  Reason r{{}, {}, {}, {}, at};
  if (e.stream_failed_before()) {
    r.detail = "the stream was already in a failed state before " + item +
               " (a file that did not open, or an earlier failure)";
  } else if (e.truncated()) {
    std::uint64_t needed = e.needed();
    std::uint64_t arrived = e.arrived();
    if (at >= 0 && e.offset() >= static_cast<std::uint64_t>(at)) {
      const std::uint64_t before = e.offset() - static_cast<std::uint64_t>(at);
      needed = size != 0 ? size : before + needed;
      arrived += before;
    }
    r.expected = std::to_string(needed) + " bytes";
    r.found = std::to_string(arrived) + " bytes";
    r.detail = item + " needs " + r.expected + ", " +
               std::to_string(arrived) + " arrived (truncated)";
  } else {
    r.detail = item + ": " + e.reason();
    r.offset = static_cast<long long>(e.offset());
  }
  return r;
}
#endif

// The exception being handled, thrown at `item` (`size` bytes where known),
// which began at byte `at`, in words.
Reason DescribeCurrentException(const std::string& item, std::uint64_t size,
                                std::int64_t at) {
  Reason r{{}, {}, {}, {}, at};
  try {
    // Called only from a handler: there is an exception to rethrow.
    // cppcheck-suppress rethrowNoCurrentException
    throw;
  } catch (const Refusal& x) {
    r = Reason{x.expected, x.found, x.sentence, x.hint, at};
  } catch (int thrown) {
    r.detail = item + ": the archive threw the int " + std::to_string(thrown);
#if QMDATA_OWN_ARCHIVE
  } catch (const QmArchiveError& e) {
    r = DescribeArchiveError(e, item, size, at);
#endif
  } catch (const std::bad_alloc&) {
    r.detail = "no memory for " + item;
    if (size != 0) r.detail += " (" + std::to_string(size) + " bytes)";
  } catch (const std::exception& e) {
    r.detail = item + ": " + e.what();
  } catch (...) {
    r.detail = item + ": an exception that is not a std::exception" +
               " (from the stream buffer?)";
  }
  return r;
}

// Replaces the thread's noted failure with `record`'s reason r.
void Store(const char* record, const Reason& r) {
  const std::string message = Compose(record, r.detail, r.offset, r.hint);
  // Nothing can fail from here on: the reason is replaced as a whole.
  Failure& f = t_failure;
  CopyCut(f.kept.record, record);
  CopyCut(f.kept.expected, r.expected);
  CopyCut(f.kept.found, r.found);
  CopyCut(f.detail, r.detail);
  CopyCut(f.hint, r.hint);
  CopyCut(f.kept.message, message);
  f.kept.offset = r.offset;
  f.no_memory = false;
}

}  // namespace

void RecordSteps::NoteCurrentException() const noexcept {
  try {
    if (NestedRecordFailed(m_failures_before)) {
      NoteAsContext(m_record);
    } else {
      Store(m_record, DescribeCurrentException(m_item, m_size, m_at));
    }
  } catch (...) {
    t_failure.no_memory = true;
  }
  ++t_failures;
}

namespace {

// Bytes a short read of the archive took that its offset does not count:
// those that arrived. Called only from a handler.
std::uint64_t UncountedBytes() {
#if QMDATA_OWN_ARCHIVE
  try {
    // Called only from a handler: there is an exception to rethrow.
    // cppcheck-suppress rethrowNoCurrentException
    throw;
  } catch (const QmArchiveError& e) {
    if (e.truncated()) return e.arrived();
  } catch (...) {
  }
#endif
  return 0;
}

// Runs probe(consumed) with the thread's noted failure kept as it is, and
// probing off for the records it runs; its failure gives no hint.
QMDATA_CATCHES_FORCED_UNWIND std::string RunProbe(
    std::string (*probe)(void*, std::uint64_t), void* context,
    std::uint64_t consumed) {
  Failure& f = t_failure;
  const Failure noted = f;
  const std::uint64_t failures = t_failures;
  std::string hint;
  t_probing = true;
  try {
    hint = probe(context, consumed);
#if QMDATA_FORCED_UNWIND
  } catch (const abi::__forced_unwind&) {
    t_probing = false;
    f = noted;
    t_failures = failures;
    throw;
#endif
  } catch (...) {
    hint.clear();
  }
  t_probing = false;
  f = noted;
  t_failures = failures;
  return hint;
}

}  // namespace

void RecordSteps::NoteHint(std::string (*probe)(void*, std::uint64_t),
                           void* context) const {
  const std::int64_t now = ArchiveOffset(m_ar);
  if (t_probing || m_start < 0 || now < m_start) return;
  const std::uint64_t consumed =
      static_cast<std::uint64_t>(now - m_start) + UncountedBytes();
  Failure& f = t_failure;
  if (f.no_memory) return;
  const std::string hint = RunProbe(probe, context, consumed);
  if (hint.empty()) return;
  try {
    const std::string message =
        Compose(f.kept.record, f.detail, f.kept.offset, hint);
    CopyCut(f.hint, hint);
    CopyCut(f.kept.message, message);
  } catch (...) {  // no memory for the hint: the reason stands without it
  }
}

}  // namespace qmdata::detail

QmRecordFailure QmLastRecordFailure() noexcept {
  const qmdata::detail::Failure& f = qmdata::detail::t_failure;
  if (f.no_memory) {
    QmRecordFailure none{};
    none.offset = -1;
    qmdata::detail::CopyCut(
        none.message, "a record failed, and there was no memory to say why");
    return none;
  }
  QmRecordFailure kept = f.kept;
  if (kept.message[0] == '\0') kept.offset = -1;
  return kept;
}

void QmClearRecordFailure() noexcept {
  qmdata::detail::t_failure = qmdata::detail::Failure{};
}
