// SPDX-License-Identifier: MIT
// QmDataSlice: construction, equality, ordering by range, Clear, the text
// line and the slice record.

#include "drange/dataslice.h"

#include <iomanip>
#include <ostream>
#include <utility>

#include "records/record_failure.h"
#include "rtarchive/archive.h"

QmDataSlice::QmDataSlice() : m_vars(), m_range(0, 1) {}

// The deep copy gives the slice a block of its own (count 1, cursor 0), so
// later changes to vars do not reach it.
QmDataSlice::QmDataSlice(const QmMathLA::vector<int>& vars, int start,
                         int length)
    : m_vars(vars, 1), m_range(start, length) {}

// The range goes through the normalising constructor; a loaded range with a
// negative start or length is repaired here, unlike in operator=.
QmDataSlice::QmDataSlice(const QmDataSlice& other, int flag)
    : m_vars(other.m_vars, flag),
      m_range(other.m_range.start(), other.m_range.length()) {}

QmDataSlice::~QmDataSlice() = default;

QmDataSlice& QmDataSlice::operator=(const QmDataSlice& other) {
  if (this == &other) return *this;
  m_vars = other.m_vars;  // a no-op for self-assignment
  m_range = other.m_range;
  return *this;
}

bool QmDataSlice::operator==(const QmDataSlice& other) const {
  const int n = m_vars.elems();
  if (n != other.m_vars.elems()) return false;
  for (int i = 0; i < n; ++i) {
    if (m_vars[i] != other.m_vars[i]) return false;
  }
  return m_range == other.m_range;
}

bool QmDataSlice::operator!=(const QmDataSlice& other) const {
  return !(*this == other);
}

bool QmDataSlice::operator<(const QmDataSlice& other) const {
  return m_range < other.m_range;
}

bool QmDataSlice::operator>(const QmDataSlice& other) const {
  return m_range > other.m_range;
}

void QmDataSlice::Clear() {
  const int start = m_range.start();
  const int length = m_range.length();
  m_vars = QmMathLA::vector<int>();
  m_range = QmDataRange(start, length);
}

void QmDataSlice::Print(std::ostream& stream, int width) {
  static_cast<const QmDataSlice&>(*this).Print(stream, width);
}

void QmDataSlice::Print(std::ostream& stream, int width) const {
  const bool default_layout = (width == -1);
  const int number_width = default_layout ? 6 : width;
  stream << "Start:\t" << std::setw(number_width) << m_range.start()
         << "\tLength:\t" << std::setw(number_width) << m_range.length()
         << "\tVars:\t";
  if (m_vars.elems() != 0) {
    m_vars.print(stream, default_layout ? 3 : width);
  } else {
    stream << "<all>\n";
  }
}

// Slice record:
//   int version        1 when written; loading accepts any value <= 1
//   vector record      the plain record of the variable list
//   range record       1, start, length
void QmDataSlice::Serialize(QmRTArchive& archive) {
  using qmdata::detail::RecordSteps;
  qmdata::detail::GuardRecord("slice record", archive, [&](RecordSteps& at) {
    at.Item("the version", 4);
    if (archive.m_storing != 0) {
      archive << GetVersion();
    } else {
      int version = 0;
      archive >> version;
      qmdata::detail::CheckVersion(at, version, GetVersion());
    }
    at.Item("the variable list");
    m_vars.Serialize(archive);
    at.Item("the range");
    m_range.Serialize(archive);
  });
}

std::ostream& operator<<(std::ostream& stream, QmDataSlice& slice) {
  return stream << std::as_const(slice);
}

QmRTArchive& operator<<(QmRTArchive& archive, QmDataSlice& slice) {
  slice.Serialize(archive);
  return archive;
}

QmRTArchive& operator>>(QmRTArchive& archive, QmDataSlice& slice) {
  slice.Serialize(archive);
  return archive;
}

std::ostream& operator<<(std::ostream& stream, const QmDataSlice& slice) {
  slice.Print(stream, -1);
  return stream;
}

QmRTArchive& operator<<(QmRTArchive& archive, const QmDataSlice& slice) {
  qmdata::detail::RefuseConstLoad("slice record", archive, "slice");
  // On a storing archive Serialize only reads the slice.
  const_cast<QmDataSlice&>(slice).Serialize(archive);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  return archive;
}
