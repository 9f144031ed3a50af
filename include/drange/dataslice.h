// SPDX-License-Identifier: MIT
// QmDataSlice: a block of data named by a list of variable indices (empty
// meaning all variables) over a QmDataRange of samples.
//
//   int vars[] = {2, 7, 11};
//   QmDataSlice s(QmMathLA::vector<int>(3, vars, 0), 5, 10);
//   std::cout << s;
//   // "Start:\t     5\tLength:\t    10\tVars:\t  2\t  7\t 11\n"
//   std::cout << QmDataSlice();
//   // "Start:\t     0\tLength:\t     1\tVars:\t<all>\n"
//
// The list is a QmMathLA::vector<int> and follows its sharing rules: copies
// made with the flag 0 and assignments share the list's block.
//
// Thread safety: thread-compatible. Sharing the list's block between slices
// on different threads is as safe as sharing a vector's.

#ifndef QMDATA_DRANGE_DATASLICE_H_
#define QMDATA_DRANGE_DATASLICE_H_

#include <iosfwd>

#include "drange/datarange.h"
#include "mathla/vector.h"
#include "qmdata/export.h"

class QmRTArchive;

class QMDATA_EXPORT QmDataSlice {
 public:
  // All variables over start 0, length 1.
  // The constructors that copy a list (from a vector, or with a non-zero
  // flag) throw std::bad_alloc when out of memory, leaving the source and its
  // sharers unchanged; sharing copies, assignment and Clear allocate nothing.
  QmDataSlice();
  // A deep copy of vars over the normalised range.
  QmDataSlice(const QmMathLA::vector<int>& vars, int start, int length);
  // flag 0 shares other's list, any other value copies it; the range is
  // normalised.
  QmDataSlice(const QmDataSlice& other, int flag = 0);
  ~QmDataSlice();
  // Shares other's list and copies its range unchanged.
  QmDataSlice& operator=(const QmDataSlice& other);

  // Lists (in order) and ranges equal.
  bool operator==(const QmDataSlice& other) const;
  bool operator!=(const QmDataSlice& other) const;
  // Order of the ranges alone.
  bool operator<(const QmDataSlice& other) const;
  bool operator>(const QmDataSlice& other) const;

  // Empties the list and normalises the range.
  void Clear();
  static int GetVersion() { return 1; }

  // One line ending in a newline: the range, then the list as the vector's
  // print gives it, or "<all>" for the empty list. Width -1 selects the
  // default layout.
  void Print(std::ostream& stream, int width);
  void Print(std::ostream& stream, int width) const;
  // The slice record: 1, the list's plain vector record, the range record.
  // Every failure throws the int -1 (QmLastRecordFailure says why), keeping
  // what was loaded before it: a failure on the version leaves the slice as
  // it was; one inside the list's record leaves the list as the vector's
  // load does (unchanged unless every index was in) and the range as it
  // was; one inside the range record keeps the loaded list and leaves the
  // range as the range's load does. Storing never changes the slice.
  void Serialize(QmRTArchive& archive);

  const QmMathLA::vector<int>& vars() const { return m_vars; }
  const QmDataRange& range() const { return m_range; }

 private:
  QmMathLA::vector<int> m_vars;  // variable indices; empty means all
  QmDataRange m_range;           // the samples
};

// Print(stream, -1).
QMDATA_EXPORT std::ostream& operator<<(std::ostream& stream,
                                       QmDataSlice& slice);
// Both call slice.Serialize(archive): the archive picks the direction.
QMDATA_EXPORT QmRTArchive& operator<<(QmRTArchive& archive, QmDataSlice& slice);
QMDATA_EXPORT QmRTArchive& operator>>(QmRTArchive& archive, QmDataSlice& slice);

// For const slices and temporaries: print, or store. Storing writes the slice
// record on a storing archive; on a loading archive it throws the int -1
// before touching the stream, as a const slice cannot be loaded.
QMDATA_EXPORT std::ostream& operator<<(std::ostream& stream,
                                       const QmDataSlice& slice);
QMDATA_EXPORT QmRTArchive& operator<<(QmRTArchive& archive,
                                      const QmDataSlice& slice);

#endif  // QMDATA_DRANGE_DATASLICE_H_
