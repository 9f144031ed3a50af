// SPDX-License-Identifier: MIT
// QmRTArchive: a binary archive over a standard stream.
//
// An archive made on an std::ostream stores (m_storing non-zero); one made on
// an std::istream loads (m_storing zero); one on a stream that does both
// (std::fstream, std::stringstream) takes its direction from a Mode, or from
// the named constructors Storing and Loading. Records call the operators in the
// same order in both directions:
//
//   std::ofstream f("data.bin", std::ios::binary);
//   QmRTArchive out(f);
//   out << 42;                 // 4 bytes, little-endian
//   out.WriteString("<Tag>");  // 4-byte length, then the bytes
//
// The byte layout is fixed and identical on every platform (docs/FORMAT.md).
// Every write reaches the stream's buffer when the call returns; the archive
// keeps no buffer of its own. A write that returned has put its bytes into
// that buffer, not yet into the file: the buffer writes them out when it is
// full, on Flush(), or when the stream is closed, and that is where a full
// disk or a failed device shows. Every failure (a short read, a stream error, a
// string longer than the reader's limit, a value too large for its field)
// throws QmArchiveError, which names the failure and the byte offset counted
// from where the archive started.
//
// A stream buffer that throws (a caller's own std::streambuf whose overflow,
// underflow or xsputn/xsgetn throws): the archive does not catch it, so the
// caller receives that exception itself, unchanged and by its own type, also
// across the DLL boundary; QmArchiveError is only for failures the archive
// detects. Bytes the buffer took before it threw stay written, Offset()
// counts only the transfers completed before it (a string of up to 60 bytes
// goes out with its length as one transfer; a longer one's length is a
// transfer of its own), and the stream's state flags are left as they were.
// The records (Serialize and the archive operators built on it) turn it,
// like every other failure, into their int -1; the quality tag's store
// operator has no handler and passes it through.
//
// The archive and its compressor (rtarchive/compression.h) are a library of
// their own, libqmdata_rtarchive, which the value classes link;
// rtarchive/bulk.h adds the block transfers that record code may use.
//
// Thread safety: an archive, like its stream, is used by one thread at a time.

#ifndef QMDATA_RTARCHIVE_ARCHIVE_H_
#define QMDATA_RTARCHIVE_ARCHIVE_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <streambuf>
#include <string>

#include "rtarchive/byteorder.h"
#include "rtarchive/export.h"

// Thrown for every failure of a QmRTArchive operation. Besides its message it
// says what failed and where, as fields: the failure in words, the byte
// offset of the failing item's start, counted from where the archive began,
// and, for a read that ran out of data, how many of the item's bytes
// arrived.
class QMDATA_RTARCHIVE_EXPORT QmArchiveError : public std::runtime_error {
 public:
  explicit QmArchiveError(const std::string& what);
  // A failure of the item at `offset`; a read of `needed` bytes of which only
  // `arrived` came has arrived < needed. Its reason() is `what` whole.
  QmArchiveError(const std::string& what, std::uint64_t offset,
                 std::uint64_t needed, std::uint64_t arrived,
                 bool stream_failed_before);
  // The same, from the failure in words (`reason`: "read of an int failed"):
  // what() is "QmRTArchive: <reason> at byte offset <offset>", followed by
  // "; the stream had already failed" where it had.
  static QmArchiveError At(const std::string& reason, std::uint64_t offset,
                           std::uint64_t needed, std::uint64_t arrived,
                           bool stream_failed_before);

  // The failure in words, without the archive's name and the offset, for a
  // caller that says where itself.
  const char* reason() const noexcept { return m_reason.what(); }
  std::uint64_t offset() const noexcept { return m_offset; }
  std::uint64_t needed() const noexcept { return m_needed; }
  std::uint64_t arrived() const noexcept { return m_arrived; }
  // True for a read that found fewer bytes than its item needs.
  bool truncated() const noexcept { return m_arrived < m_needed; }
  // True when the stream was already in a failed state (failbit or badbit)
  // before the failing operation: a file that did not open, or an earlier
  // failure on the same stream.
  bool stream_failed_before() const noexcept { return m_stream_failed; }

 private:
  QmArchiveError(const std::string& reason, const std::string& what,
                 std::uint64_t offset, std::uint64_t needed,
                 std::uint64_t arrived, bool stream_failed_before);

  // A std::runtime_error holds the text so that copying the exception
  // cannot throw.
  std::runtime_error m_reason;
  std::uint64_t m_offset = 0;
  std::uint64_t m_needed = 0;
  std::uint64_t m_arrived = 0;
  bool m_stream_failed = false;
};

class QMDATA_RTARCHIVE_EXPORT QmRTArchive {
 public:
  // The direction of an archive on a stream that both reads and writes.
  enum class Mode { Store, Load };

  // A storing archive writing to os's stream buffer.
  explicit QmRTArchive(std::ostream& os);
  // A loading archive reading from is's stream buffer.
  explicit QmRTArchive(std::istream& is);
  // An archive on a stream that reads and writes (std::fstream,
  // std::stringstream), in the direction given; any other mode value throws
  // QmArchiveError. The archive never moves the stream's positions: a
  // loading archive reads from the stream's read position, wherever the
  // caller left it. After writing, put it where the records start:
  //
  //   std::fstream f("data.bin", std::ios::in | std::ios::out |
  //                              std::ios::trunc | std::ios::binary);
  //   QmRTArchive out(f, QmRTArchive::Mode::Store);
  //   out << slice;
  //   f.seekg(0);  // a file stream has one position for both directions
  //   QmRTArchive in(f, QmRTArchive::Mode::Load);
  //   in >> slice;
  QmRTArchive(std::iostream& s, Mode mode);
  // Such a stream is both an std::ostream and an std::istream, so the
  // direction must be said: with a Mode, or through Storing or Loading. The
  // compiler shows the deleted declaration's line, which names them.
  // clang-format off
  QmRTArchive(std::iostream& s) = delete;  // say the direction: QmRTArchive ar(s, QmRTArchive::Mode::Store) or Mode::Load, or QmRTArchive::Storing(s) / Loading(s)
  // clang-format on
  // The same as QmRTArchive(os) and QmRTArchive(is), for any stream:
  //   auto out = QmRTArchive::Storing(f);
  static QmRTArchive Storing(std::ostream& os) { return QmRTArchive(os); }
  static QmRTArchive Loading(std::istream& is) { return QmRTArchive(is); }
  QmRTArchive(const QmRTArchive&) = delete;
  QmRTArchive& operator=(const QmRTArchive&) = delete;
  ~QmRTArchive() = default;

  // Non-zero while storing, zero while loading.
  int m_storing;

  // A 4-byte two's-complement int.
  QmRTArchive& operator<<(int value) {
    if (m_storing == 0) RefuseDirection("write of an int");
    const auto u = static_cast<std::uint32_t>(value);
    char* p = Area::Pptr(m_buf);
    if (Area::Epptr(m_buf) - p >= 4) {
      qmdata::detail::EncodeFixed32(reinterpret_cast<unsigned char*>(p), u);
      Area::Pbump(m_buf, 4);
    } else if (!(PutByte(u) && PutByte(u >> 8) && PutByte(u >> 16) &&
                 PutByte(u >> 24))) {
      // && keeps the bytes in order and stops at the first failure.
      Fail("write of an int", 0, 0);
    }
    m_offset += 4;
    return *this;
  }
  QmRTArchive& operator>>(int& value) {
    if (m_storing != 0) RefuseDirection("read of an int");
    std::uint32_t u = 0;
    const char* g = Area::Gptr(m_buf);
    if (Area::Egptr(m_buf) - g >= 4) {
      u = qmdata::detail::DecodeFixed32(
          reinterpret_cast<const unsigned char*>(g));
      Area::Gbump(m_buf, 4);
    } else {
      for (unsigned got = 0; got < 4; ++got) {
        const auto c = m_buf->sbumpc();
        if (c == std::char_traits<char>::eof()) Fail("read of an int", 4, got);
        u |= static_cast<std::uint32_t>(static_cast<unsigned char>(c))
             << (8 * got);
      }
    }
    m_offset += 4;
    value = static_cast<int>(u);
    return *this;
  }
  // A 4-byte unsigned length; storing a value above 0xFFFFFFFF throws.
  QmRTArchive& operator<<(unsigned long value);
  QmRTArchive& operator>>(unsigned long& value);

  // A 4-byte length, then the bytes of s without its NUL. A null s is stored
  // as the empty string.
  void WriteString(const char* s);
  // Reads a string into buf (limit + 1 bytes) and NUL-terminates it; returns
  // buf. A string longer than limit throws; the stream then stands just after
  // its 4-byte length, and buf holds the empty string.
  char* ReadString(char* buf, unsigned limit);
  // n raw bytes.
  void Write(const void* data, unsigned n);
  // Reads exactly n raw bytes into data and returns n; fewer throws.
  unsigned Read(void* data, unsigned n);

  // Makes the stream's buffer write out every byte stored so far (its
  // pubsync). Throws QmArchiveError, and sets badbit, when that fails or the
  // stream had already failed; its reason names the failure and the bytes
  // stored. A storing archive's records never flush by themselves.
  void Flush();

  // Every write of a loading archive and every read of a storing one throws
  // QmArchiveError before touching the stream (a loading archive on an
  // std::fstream would otherwise overwrite the file it loads); so does
  // Flush().

  // Bytes written or read so far.
  std::uint64_t Offset() const { return m_offset; }

 private:
  // Block transfers for record code (rtarchive/bulk.h).
  friend class QmRTArchiveBulk;
  // Makes an archive convert int arrays as on a host whose ints are not in
  // the archive's byte order, so that those paths run on every host.
  friend struct QmRTArchiveTestAccess;

  // The stream buffer's put and get area pointers, which std::streambuf
  // offers only to derived classes (archive.cpp says what they buy).
  struct Area : std::streambuf {
    static char* Pptr(std::streambuf* b) { return (b->*&Area::pptr)(); }
    static char* Epptr(std::streambuf* b) { return (b->*&Area::epptr)(); }
    static void Pbump(std::streambuf* b, int n) { (b->*&Area::pbump)(n); }
    static char* Gptr(std::streambuf* b) { return (b->*&Area::gptr)(); }
    static char* Egptr(std::streambuf* b) { return (b->*&Area::egptr)(); }
    static void Gbump(std::streambuf* b, int n) { (b->*&Area::gbump)(n); }
  };
  bool PutByte(std::uint32_t byte) {
    return m_buf->sputc(static_cast<char>(byte & 0xFF)) !=
           std::char_traits<char>::eof();
  }
  // Throws QmArchiveError for the item that starts at the current offset;
  // for a read, `arrived` of its `needed` bytes came (both 0 otherwise).
  [[noreturn]] void Fail(const char* what, std::uint64_t needed,
                         std::uint64_t arrived) const;
  // Throws QmArchiveError for a `what` ("write of an int") against the
  // archive's direction; the stream and its state are left untouched.
  [[noreturn]] void RefuseDirection(const char* what) const;
  // Moves exactly n bytes through the stream buffer and advances the offset;
  // fewer throws, naming `what`.
  void PutBytes(const void* data, std::size_t n, const char* what);
  void GetBytes(void* data, std::size_t n, const char* what);

  std::streambuf* m_buf;  // never null: the constructors fail otherwise
  std::ios* m_stream;     // receives badbit on a failed write or short read
  std::uint64_t m_offset;
  // Int arrays go one int at a time through the byte order conversion.
  bool m_convert_ints = !qmdata::detail::kHostLittleEndian;
};

#endif  // QMDATA_RTARCHIVE_ARCHIVE_H_
