// SPDX-License-Identifier: MIT
// QmDataRange: a run of consecutive samples, named by its first index and
// its length.
//
//   QmDataRange r(5, 10);   // samples 5 to 14
//   r.end();                // 14
//   std::cout << r;         // "Start:     5  Length:    10\n"
//
// The constructor normalises (a start below 1 becomes 0, a negative length
// becomes 1); copying, assignment and loading take the values as they are, so
// a loaded range may hold a negative start or length.
//
// Thread safety: thread-compatible, like an int; concurrent const use is safe.

#ifndef QMDATA_DRANGE_DATARANGE_H_
#define QMDATA_DRANGE_DATARANGE_H_

#include <iosfwd>

#include "qmdata/export.h"

class QmRTArchive;

class QMDATA_EXPORT QmDataRange {
 public:
  // Converting on purpose: an int is a range from that start, length 1.
  // cppcheck-suppress noExplicitConstructor
  QmDataRange(int start = 0, int length = 1);
  QmDataRange(const QmDataRange& other) = default;
  QmDataRange& operator=(const QmDataRange& other) = default;
  ~QmDataRange() = default;

  bool operator==(const QmDataRange& other) const;
  bool operator!=(const QmDataRange& other) const;
  // Lexicographic: start first, length breaks ties.
  bool operator<(const QmDataRange& other) const;
  bool operator<=(const QmDataRange& other) const;
  bool operator>(const QmDataRange& other) const;
  bool operator>=(const QmDataRange& other) const;

  int start() const { return m_start; }
  int location() const { return m_start; }
  int length() const { return m_length; }
  // The last sample: start + length - 1 (wrapping).
  int end() const;
  static int GetVersion() { return 1; }

  // One line ending in a newline; width -1 selects the default layout.
  void Print(std::ostream& stream, int width);
  void Print(std::ostream& stream, int width) const;
  // The range record (1, start, length); the archive picks the direction.
  // Every failure throws the int -1 (QmLastRecordFailure says why); a
  // failure on the version or the start leaves the range as it was, a
  // failure on the length leaves the start loaded. Storing never changes
  // the range. Only a failure allocates (the words of its reason).
  void Serialize(QmRTArchive& archive);

 private:
  int m_start;   // first sample; >= 0 unless copied from a loaded range
  int m_length;  // number of samples; >= 0 unless copied from a loaded range
};

// Print(stream, -1).
QMDATA_EXPORT std::ostream& operator<<(std::ostream& stream,
                                       QmDataRange& range);
// Both call range.Serialize(archive): the archive, not the operator, picks
// the direction.
QMDATA_EXPORT QmRTArchive& operator<<(QmRTArchive& archive, QmDataRange& range);
QMDATA_EXPORT QmRTArchive& operator>>(QmRTArchive& archive, QmDataRange& range);

// For const ranges and temporaries: print, or store. Storing writes the range
// record on a storing archive; on a loading archive it throws the int -1
// before touching the stream, as a const range cannot be loaded.
QMDATA_EXPORT std::ostream& operator<<(std::ostream& stream,
                                       const QmDataRange& range);
QMDATA_EXPORT QmRTArchive& operator<<(QmRTArchive& archive,
                                      const QmDataRange& range);

#endif  // QMDATA_DRANGE_DATARANGE_H_
