// SPDX-License-Identifier: MIT
// QmDataRange: normalisation, ordering, the text line and the range record.

#include "drange/datarange.h"

#include <cstdint>
#include <iomanip>
#include <ostream>
#include <utility>

#include "records/record_failure.h"
#include "rtarchive/archive.h"

QmDataRange::QmDataRange(int start, int length)
    : m_start(start >= 1 ? start : 0), m_length(length >= 0 ? length : 1) {}

bool QmDataRange::operator==(const QmDataRange& other) const {
  return m_start == other.m_start && m_length == other.m_length;
}

bool QmDataRange::operator!=(const QmDataRange& other) const {
  return !(*this == other);
}

bool QmDataRange::operator<(const QmDataRange& other) const {
  if (m_start != other.m_start) return m_start < other.m_start;
  return m_length < other.m_length;
}

bool QmDataRange::operator>(const QmDataRange& other) const {
  if (m_start != other.m_start) return m_start > other.m_start;
  return m_length > other.m_length;
}

bool QmDataRange::operator<=(const QmDataRange& other) const {
  return !(*this > other);
}

bool QmDataRange::operator>=(const QmDataRange& other) const {
  return !(*this < other);
}

int QmDataRange::end() const {
  // Loaded ranges may hold any values: wrap instead of overflowing.
  const std::uint32_t last = static_cast<std::uint32_t>(m_start) +
                             static_cast<std::uint32_t>(m_length) - 1u;
  return static_cast<int>(last);
}

void QmDataRange::Print(std::ostream& stream, int width) {
  static_cast<const QmDataRange&>(*this).Print(stream, width);
}

void QmDataRange::Print(std::ostream& stream, int width) const {
  if (width == -1) {
    stream << "Start:" << std::setw(6) << m_start << "  Length:" << std::setw(6)
           << m_length << "\n";
  } else {
    stream << "Start:" << std::setw(width) << m_start
           << "\tLength:" << std::setw(width) << m_length << "\n";
  }
}

// Range record:
//   int version   1 when written; loading accepts any value <= 1
//   int start     taken as read, never normalised
//   int length    taken as read, never normalised
void QmDataRange::Serialize(QmRTArchive& archive) {
  using qmdata::detail::RecordSteps;
  qmdata::detail::GuardRecord("range record", archive, [&](RecordSteps& at) {
    at.Item("the version", 4);
    if (archive.m_storing != 0) {
      archive << GetVersion();
      at.Item("the start", 4);
      archive << m_start;
      at.Item("the length", 4);
      archive << m_length;
      return;
    }
    int version = 0;
    archive >> version;
    qmdata::detail::CheckVersion(at, version, GetVersion());
    // Straight into the fields: a failure on the length keeps the start.
    at.Item("the start", 4);
    archive >> m_start;
    at.Item("the length", 4);
    archive >> m_length;
  });
}

std::ostream& operator<<(std::ostream& stream, QmDataRange& range) {
  return stream << std::as_const(range);
}

QmRTArchive& operator<<(QmRTArchive& archive, QmDataRange& range) {
  range.Serialize(archive);
  return archive;
}

QmRTArchive& operator>>(QmRTArchive& archive, QmDataRange& range) {
  range.Serialize(archive);
  return archive;
}

std::ostream& operator<<(std::ostream& stream, const QmDataRange& range) {
  range.Print(stream, -1);
  return stream;
}

QmRTArchive& operator<<(QmRTArchive& archive, const QmDataRange& range) {
  qmdata::detail::RefuseConstLoad("range record", archive, "range");
  // On a storing archive Serialize only reads the range.
  const_cast<QmDataRange&>(range).Serialize(archive);  // NOLINT(cppcoreguidelines-pro-type-const-cast)
  return archive;
}
