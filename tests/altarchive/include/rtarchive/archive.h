// SPDX-License-Identifier: MIT
// A second archive library with only the interface the value classes may
// use, and an encoding of its own: every item starts with a marker byte, and
// numbers are big-endian (an unsigned long takes 8 bytes). qmdata is built
// against it in CI to show that its records need nothing more.

#ifndef ALTARCHIVE_RTARCHIVE_ARCHIVE_H_
#define ALTARCHIVE_RTARCHIVE_ARCHIVE_H_

#include <iosfwd>

#if defined(_WIN32)
#define ALTARCHIVE_EXPORT __declspec(dllexport)
#else
#define ALTARCHIVE_EXPORT __attribute__((visibility("default")))
#endif

class ALTARCHIVE_EXPORT QmRTArchive {
 public:
  explicit QmRTArchive(std::ostream& os);
  explicit QmRTArchive(std::istream& is);
  QmRTArchive(const QmRTArchive&) = delete;
  QmRTArchive& operator=(const QmRTArchive&) = delete;

  int m_storing;

  QmRTArchive& operator<<(int value);
  QmRTArchive& operator>>(int& value);
  QmRTArchive& operator<<(unsigned long value);
  QmRTArchive& operator>>(unsigned long& value);
  void WriteString(const char* s);
  char* ReadString(char* buf, unsigned limit);
  void Write(const void* data, unsigned n);
  unsigned Read(void* data, unsigned n);

 private:
  void Put(char marker, const unsigned char* bytes, unsigned n);
  void Get(char marker, unsigned char* bytes, unsigned n);
  void PutNumber(char marker, unsigned long long v, unsigned n);
  unsigned long long GetNumber(char marker, unsigned n);
  std::ostream* m_out;
  std::istream* m_in;
};

#endif  // ALTARCHIVE_RTARCHIVE_ARCHIVE_H_
