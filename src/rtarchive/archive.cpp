// QmRTArchive: the archive primitives. The byte layout is described in
// docs/FORMAT.md ("Primitives").

#include "rtarchive/archive.h"

#include <cstring>
#include <ios>
#include <istream>
#include <limits>
#include <ostream>
#include <string>

#include "rtarchive/byteorder.h"

namespace {

using qmdata::detail::DecodeFixed32;
using qmdata::detail::EncodeFixed32;
using qmdata::detail::kFixed32Size;

// Int arrays move in pieces of at most this many ints: one sputn (sgetn) per
// piece keeps every length well inside a 32-bit std::streamsize.
constexpr std::size_t kIntPiece = std::size_t{1} << 24;
// Ints converted per sputn (sgetn) where the byte order needs converting.
constexpr std::size_t kConvertPiece = 1024;
// Strings up to this length are written with their length in one piece.
constexpr std::size_t kShortString = 60;

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
    : std::runtime_error(what) {}

QmRTArchive::QmRTArchive(std::ostream& os)
    : m_storing(1), m_buf(BufferOf(os)), m_stream(&os), m_offset(0) {}

QmRTArchive::QmRTArchive(std::istream& is)
    : m_storing(0), m_buf(BufferOf(is)), m_stream(&is), m_offset(0) {}

QmRTArchive::QmRTArchive(std::iostream& s, Mode mode)
    : m_storing(StoringFlag(mode)),
      m_buf(BufferOf(s)),
      m_stream(&s),
      m_offset(0) {}

void QmRTArchive::Fail(const char* what) const {
  // The stream may be set to throw on badbit; the archive's own error is the
  // one callers get either way.
  try {
    m_stream->setstate(std::ios::badbit);
  } catch (...) {
  }
  throw QmArchiveError(std::string("QmRTArchive: ") + what +
                       " failed at byte offset " + std::to_string(m_offset));
}

void QmRTArchive::PutBytes(const void* data, std::size_t n, const char* what) {
  if (m_buf->sputn(static_cast<const char*>(data),
                   static_cast<std::streamsize>(n)) !=
      static_cast<std::streamsize>(n)) {
    Fail(what);
  }
  m_offset += n;
}

void QmRTArchive::GetBytes(void* data, std::size_t n, const char* what) {
  if (m_buf->sgetn(static_cast<char*>(data), static_cast<std::streamsize>(n)) !=
      static_cast<std::streamsize>(n)) {
    Fail(what);
  }
  m_offset += n;
}

QmRTArchive& QmRTArchive::operator<<(unsigned long value) {
  if (value > 0xFFFFFFFFul) Fail("store of an unsigned long above 0xFFFFFFFF");
  unsigned char bytes[kFixed32Size];
  EncodeFixed32(bytes, static_cast<std::uint32_t>(value));
  PutBytes(bytes, kFixed32Size, "write of an unsigned long");
  return *this;
}

QmRTArchive& QmRTArchive::operator>>(unsigned long& value) {
  unsigned char bytes[kFixed32Size];
  GetBytes(bytes, kFixed32Size, "read of an unsigned long");
  value = DecodeFixed32(bytes);
  return *this;
}

void QmRTArchive::WriteString(const char* s) {
  const std::size_t len = s == nullptr ? 0 : std::strlen(s);
  if (len > 0xFFFFFFFFu) Fail("store of a string longer than 0xFFFFFFFF bytes");
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

char* QmRTArchive::ReadString(char* buf, unsigned limit) {
  if (buf == nullptr) Fail("read of a string into a null buffer");
  buf[0] = '\0';
  // Fast path: the length and the bytes already lie in the get area.
  const char* g = Area::Gptr(m_buf);
  const std::ptrdiff_t avail = g == nullptr ? 0 : Area::Egptr(m_buf) - g;
  if (avail >= static_cast<std::ptrdiff_t>(kFixed32Size)) {
    const std::uint32_t len =
        DecodeFixed32(reinterpret_cast<const unsigned char*>(g));
    if (len <= limit && len < 0x40000000u &&
        static_cast<std::uint64_t>(avail) - kFixed32Size >= len) {
      // NUL-terminated on the next line.
      std::memcpy(buf, g + kFixed32Size, len);  // NOLINT(bugprone-not-null-terminated-result)
      buf[len] = '\0';
      Area::Gbump(m_buf, static_cast<int>(kFixed32Size + len));
      m_offset += kFixed32Size + len;
      return buf;
    }
  }
  unsigned char bytes[kFixed32Size];
  GetBytes(bytes, kFixed32Size, "read of a string length");
  const std::uint32_t len = DecodeFixed32(bytes);
  if (len > limit) {
    // The stream stays just after the length; the bytes are not consumed.
    throw QmArchiveError("QmRTArchive: a string of " + std::to_string(len) +
                         " bytes exceeds the limit of " +
                         std::to_string(limit) + " at byte offset " +
                         std::to_string(m_offset - kFixed32Size));
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
  if (n == 0) return;
  if (data == nullptr) Fail("write of a raw block from a null pointer");
  PutBytes(data, n, "write of a raw block");
}

unsigned QmRTArchive::Read(void* data, unsigned n) {
  if (n == 0) return 0;
  if (data == nullptr) Fail("read of a raw block into a null pointer");
  GetBytes(data, n, "read of a raw block");
  return n;
}

void QmRTArchive::WriteInts(const int* data, std::size_t n) {
  if (n == 0) return;
  if (data == nullptr) Fail("write of an int array from a null pointer");
  if (!m_convert_ints) {
    for (std::size_t done = 0; done < n; done += kIntPiece) {
      const std::size_t k = n - done < kIntPiece ? n - done : kIntPiece;
      PutBytes(data + done, k * kFixed32Size, "write of an int array");
    }
    return;
  }
  unsigned char bytes[kConvertPiece * kFixed32Size];
  for (std::size_t done = 0; done < n; done += kConvertPiece) {
    const std::size_t k = n - done < kConvertPiece ? n - done : kConvertPiece;
    // k is at least 1 here (done < n); the analyser misreads the minimum.
    // cppcheck-suppress knownConditionTrueFalse
    for (std::size_t i = 0; i < k; ++i) {
      EncodeFixed32(bytes + i * kFixed32Size,
                    static_cast<std::uint32_t>(data[done + i]));
    }
    PutBytes(bytes, k * kFixed32Size, "write of an int array");
  }
}

void QmRTArchive::ReadInts(int* data, std::size_t n) {
  if (n == 0) return;
  if (data == nullptr) Fail("read of an int array into a null pointer");
  const std::uint64_t start = m_offset;
  unsigned char bytes[kConvertPiece * kFixed32Size];
  const std::size_t piece = m_convert_ints ? kConvertPiece : kIntPiece;
  for (std::size_t done = 0; done < n; done += piece) {
    const std::size_t k = n - done < piece ? n - done : piece;
    char* dst = m_convert_ints ? reinterpret_cast<char*>(bytes)
                               : reinterpret_cast<char*>(data + done);
    const std::streamsize want = static_cast<std::streamsize>(k * kFixed32Size);
    const std::streamsize got = m_buf->sgetn(dst, want);
    const std::size_t whole = got > 0 ? static_cast<std::size_t>(got) / 4 : 0;
    if (m_convert_ints) {
      for (std::size_t i = 0; i < whole; ++i) {
        data[done + i] =
            static_cast<int>(DecodeFixed32(bytes + i * kFixed32Size));
      }
    }
    m_offset += got > 0 ? static_cast<std::uint64_t>(got) : 0;
    if (got != want) {
      // The offset named is where the first missing int starts.
      m_offset = start + (done + whole) * std::uint64_t{kFixed32Size};
      Fail(("read of " + std::to_string(n) + " ints (" +
            std::to_string(done + whole) + " whole ints arrived)")
               .c_str());
    }
  }
}

void QmRTArchive::ToArchiveOrder(int* data, std::size_t n) const {
  if (!m_convert_ints) return;
  for (std::size_t i = 0; i < n; ++i) {
    // The int's own storage receives its archive bytes; applied again, the
    // same shifts give back the host's int.
    const auto host = static_cast<std::uint32_t>(data[i]);
    EncodeFixed32(reinterpret_cast<unsigned char*>(&data[i]), host);
  }
}

const void* QmRTArchive::ReadInPlace(std::size_t n) {
  if (m_storing != 0 || n == 0) return nullptr;
  const char* g = Area::Gptr(m_buf);
  if (g == nullptr || static_cast<std::size_t>(Area::Egptr(m_buf) - g) < n) {
    return nullptr;
  }
  // Bytes in the get area are consumed by gbump in int-sized steps.
  for (std::size_t left = n; left > 0;) {
    const int step = left > 0x40000000u ? 0x40000000 : static_cast<int>(left);
    Area::Gbump(m_buf, step);
    left -= static_cast<std::size_t>(step);
  }
  m_offset += n;
  return g;
}

// How many bytes the stream holds after the read position: the get area's
// count when it covers n, else the distance to a seekable stream's end; -1
// when the stream cannot tell. The read position is left where it was.
std::streamoff QmRTArchive::BytesLeft(std::uint64_t n) const {
  const std::streamsize avail = m_buf->in_avail();
  if (avail > 0 && static_cast<std::uint64_t>(avail) >= n) return avail;
  const std::streampos here = m_buf->pubseekoff(0, std::ios::cur, std::ios::in);
  if (here == std::streampos(std::streamoff(-1))) return -1;  // not seekable
  const std::streampos end = m_buf->pubseekoff(0, std::ios::end, std::ios::in);
  // Back to where reading stands, whatever the probe found.
  m_buf->pubseekpos(here, std::ios::in);
  if (end == std::streampos(std::streamoff(-1))) return -1;
  const std::streamoff left = std::streamoff(end) - std::streamoff(here);
  return left < 0 ? 0 : left;
}

bool QmRTArchive::MayHold(std::uint64_t n) const {
  if (m_storing != 0 || n == 0) return true;
  const std::streamoff left = BytesLeft(n);
  return left < 0 || static_cast<std::uint64_t>(left) >= n;
}

bool QmRTArchive::Holds(std::uint64_t n) const {
  if (m_storing != 0 || n == 0) return n == 0;
  const std::streamoff left = BytesLeft(n);
  return left >= 0 && static_cast<std::uint64_t>(left) >= n;
}
