// SPDX-License-Identifier: MIT
// QmRTArchive: the archive primitives. The byte layout is described in
// docs/FORMAT.md ("Primitives").
//
// The int operators and the string reader's fast path reach into the stream
// buffer's put and get areas (QmRTArchive::Area), which std::streambuf offers
// only to derived classes: a pointer to a protected member formed inside a
// derived class may be applied to any std::streambuf. What it buys: an int
// whose 4 bytes fit in the area is one inline bounds check and copy, where
// sputn (sgetn) is a virtual call that loops over the bytes; the stream
// buffer's own overflow (underflow) runs only when the area is full (empty).

#include "rtarchive/archive.h"

#include <cerrno>
#include <cstring>
#include <ios>
#include <istream>
#include <ostream>
#include <string>
#include <system_error>

#include "rtarchive/byteorder.h"

namespace {

using qmdata::detail::DecodeFixed32;
using qmdata::detail::EncodeFixed32;
using qmdata::detail::kFixed32Size;

// Strings up to this length are written with their length in one piece.
constexpr std::size_t kShortString = 60;
// Strings are taken from the get area in place only up to this length, so
// that the gbump that consumes them fits an int.
constexpr std::uint32_t kLongestInPlace = 0x40000000;

std::streambuf* BufferOf(std::ios& s) {
  std::streambuf* buf = s.rdbuf();
  if (buf == nullptr) {
    throw QmArchiveError("QmRTArchive: the stream has no stream buffer");
  }
  return buf;
}

int StoringFlag(QmRTArchive::Mode mode) {
  switch (mode) {
    case QmRTArchive::Mode::Store:
      return 1;
    case QmRTArchive::Mode::Load:
      return 0;
  }
  throw QmArchiveError("QmRTArchive: unknown mode " +
                       std::to_string(static_cast<int>(mode)));
}

}  // namespace

QmArchiveError::QmArchiveError(const std::string& what)
    : std::runtime_error(what), m_reason(what) {}

QmArchiveError::QmArchiveError(const std::string& what, std::uint64_t offset,
                               std::uint64_t needed, std::uint64_t arrived,
                               bool stream_failed_before)
    : QmArchiveError(what, what, offset, needed, arrived,
                     stream_failed_before) {}

QmArchiveError::QmArchiveError(const std::string& reason,
                               const std::string& what, std::uint64_t offset,
                               std::uint64_t needed, std::uint64_t arrived,
                               bool stream_failed_before)
    : std::runtime_error(what),
      m_reason(reason),
      m_offset(offset),
      m_needed(needed),
      m_arrived(arrived),
      m_stream_failed(stream_failed_before) {}

QmArchiveError QmArchiveError::At(const std::string& reason,
                                  std::uint64_t offset, std::uint64_t needed,
                                  std::uint64_t arrived,
                                  bool stream_failed_before) {
  std::string what =
      "QmRTArchive: " + reason + " at byte offset " + std::to_string(offset);
  if (stream_failed_before) what += "; the stream had already failed";
  return QmArchiveError(reason, what, offset, needed, arrived,
                        stream_failed_before);
}

QmRTArchive::QmRTArchive(std::ostream& os)
    : m_storing(1), m_buf(BufferOf(os)), m_stream(&os), m_offset(0) {}

QmRTArchive::QmRTArchive(std::istream& is)
    : m_storing(0), m_buf(BufferOf(is)), m_stream(&is), m_offset(0) {}

QmRTArchive::QmRTArchive(std::iostream& s, Mode mode)
    : m_storing(StoringFlag(mode)),
      m_buf(BufferOf(s)),
      m_stream(&s),
      m_offset(0) {}

void QmRTArchive::Fail(const char* what, std::uint64_t needed,
                       std::uint64_t arrived) const {
  const bool failed_before =
      (m_stream->rdstate() & (std::ios::failbit | std::ios::badbit)) != 0;
  // The stream may be set to throw on badbit; the archive's own error is the
  // one callers get either way.
  try {
    m_stream->setstate(std::ios::badbit);
  } catch (...) {
  }
  std::string reason = what;
  if (arrived < needed) {
    reason += " (" + std::to_string(arrived) + " of " +
              std::to_string(needed) + " bytes arrived)";
  }
  throw QmArchiveError::At(reason + " failed", m_offset, needed, arrived,
                           failed_before);
}

void QmRTArchive::RefuseDirection(const char* what) const {
  throw QmArchiveError::At(std::string(what) + " on a " +
                               (m_storing != 0 ? "storing" : "loading") +
                               " archive",
                           m_offset, 0, 0, false);
}

void QmRTArchive::PutBytes(const void* data, std::size_t n, const char* what) {
  if (m_buf->sputn(static_cast<const char*>(data),
                   static_cast<std::streamsize>(n)) !=
      static_cast<std::streamsize>(n)) {
    Fail(what, 0, 0);
  }
  m_offset += n;
}

void QmRTArchive::GetBytes(void* data, std::size_t n, const char* what) {
  const std::streamsize got =
      m_buf->sgetn(static_cast<char*>(data), static_cast<std::streamsize>(n));
  if (got != static_cast<std::streamsize>(n)) {
    Fail(what, n, got > 0 ? static_cast<std::uint64_t>(got) : 0);
  }
  m_offset += n;
}

QmRTArchive& QmRTArchive::operator<<(unsigned long value) {
  if (m_storing == 0) RefuseDirection("write of an unsigned long");
  if (value > 0xFFFFFFFFul) {
    Fail("store of an unsigned long above 0xFFFFFFFF", 0, 0);
  }
  unsigned char bytes[kFixed32Size];
  EncodeFixed32(bytes, static_cast<std::uint32_t>(value));
  PutBytes(bytes, kFixed32Size, "write of an unsigned long");
  return *this;
}

QmRTArchive& QmRTArchive::operator>>(unsigned long& value) {
  if (m_storing != 0) RefuseDirection("read of an unsigned long");
  unsigned char bytes[kFixed32Size];
  GetBytes(bytes, kFixed32Size, "read of an unsigned long");
  value = DecodeFixed32(bytes);
  return *this;
}

void QmRTArchive::WriteString(const char* s) {
  if (m_storing == 0) RefuseDirection("write of a string");
  const std::size_t len = s == nullptr ? 0 : std::strlen(s);
  if (len > 0xFFFFFFFFu) {
    Fail("store of a string longer than 0xFFFFFFFF bytes", 0, 0);
  }
  // A short string goes to the stream buffer with its length in one sputn.
  unsigned char bytes[kFixed32Size + kShortString];
  EncodeFixed32(bytes, static_cast<std::uint32_t>(len));
  if (len <= kShortString) {
    // The record holds the bytes without a NUL.
    if (len > 0) std::memcpy(bytes + kFixed32Size, s, len);  // NOLINT(bugprone-not-null-terminated-result)
    PutBytes(bytes, kFixed32Size + len, "write of a string");
    return;
  }
  PutBytes(bytes, kFixed32Size, "write of a string length");
  PutBytes(s, len, "write of a string");
}

namespace {

// Copies a string of at most `limit` bytes whose length and bytes already lie
// in [g, g + avail) into buf, NUL-terminated; returns the bytes consumed, or
// 0 when they do not all lie there (the slow path then reads the stream).
std::size_t CopyStringInPlace(const char* g, std::ptrdiff_t avail, char* buf,
                              unsigned limit) {
  if (g == nullptr || avail < static_cast<std::ptrdiff_t>(kFixed32Size)) {
    return 0;
  }
  const std::uint32_t len =
      DecodeFixed32(reinterpret_cast<const unsigned char*>(g));
  if (len > limit || len >= kLongestInPlace ||
      static_cast<std::uint64_t>(avail) - kFixed32Size < len) {
    return 0;
  }
  // NUL-terminated on the next line.
  std::memcpy(buf, g + kFixed32Size, len);  // NOLINT(bugprone-not-null-terminated-result)
  buf[len] = '\0';
  return kFixed32Size + len;
}

}  // namespace

char* QmRTArchive::ReadString(char* buf, unsigned limit) {
  if (m_storing != 0) RefuseDirection("read of a string");
  if (buf == nullptr) Fail("read of a string into a null buffer", 0, 0);
  buf[0] = '\0';
  const char* g = Area::Gptr(m_buf);
  const std::size_t taken = CopyStringInPlace(
      g, g == nullptr ? 0 : Area::Egptr(m_buf) - g, buf, limit);
  if (taken != 0) {
    Area::Gbump(m_buf, static_cast<int>(taken));
    m_offset += taken;
    return buf;
  }
  unsigned char bytes[kFixed32Size];
  GetBytes(bytes, kFixed32Size, "read of a string length");
  const std::uint32_t len = DecodeFixed32(bytes);
  if (len > limit) {
    // The stream stays just after the length; the bytes are not consumed.
    const std::uint64_t at = m_offset - kFixed32Size;
    throw QmArchiveError::At("a string of " + std::to_string(len) +
                                 " bytes exceeds the limit of " +
                                 std::to_string(limit),
                             at, 0, 0, false);
  }
  if (len > 0) {
    try {
      GetBytes(buf, len, "read of a string");
    } catch (...) {
      buf[0] = '\0';  // a short read leaves the empty string
      throw;
    }
  }
  buf[len] = '\0';
  return buf;
}

void QmRTArchive::Write(const void* data, unsigned n) {
  if (m_storing == 0) RefuseDirection("write of a raw block");
  if (n == 0) return;
  if (data == nullptr) Fail("write of a raw block from a null pointer", 0, 0);
  PutBytes(data, n, "write of a raw block");
}

unsigned QmRTArchive::Read(void* data, unsigned n) {
  if (m_storing != 0) RefuseDirection("read of a raw block");
  if (n == 0) return 0;
  if (data == nullptr) Fail("read of a raw block into a null pointer", 0, 0);
  GetBytes(data, n, "read of a raw block");
  return n;
}

void QmRTArchive::Flush() {
  if (m_storing == 0) RefuseDirection("flush");
  // Fail() adds " failed", the offset and, for a stream that had failed
  // before, "; the stream had already failed".
  std::string what =
      "flush of the " + std::to_string(m_offset) + " bytes stored";
  if ((m_stream->rdstate() & (std::ios::failbit | std::ios::badbit)) != 0) {
    Fail(what.c_str(), 0, 0);
  }
  // A file buffer's failed write sets errno (ENOSPC, EIO); another buffer
  // may fail without it.
  errno = 0;
  if (m_buf->pubsync() == -1) {
    const int e = errno;
    if (e != 0) what += " (" + std::generic_category().message(e) + ")";
    Fail(what.c_str(), 0, 0);
  }
}
