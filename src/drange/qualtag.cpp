// The quality tag's archive operators: one int, 0 or 1, no tag and no
// version. The operator, not the archive's storing flag, picks the
// direction.

#include "drange/qualtag.h"

#include "rtarchive/archive.h"

namespace {

// No handler: archive exceptions reach the caller as they are.
void WriteTag(QmRTArchive& archive, qmo_qualtag tag) {
  archive << (tag == qmo_qual_good ? 1 : 0);
}

}  // namespace

// The interface's signature; the const overload serves const tags.
// cppcheck-suppress constParameter
QmRTArchive& operator<<(QmRTArchive& archive, qmo_qualtag& tag) {
  WriteTag(archive, tag);
  return archive;
}

QmRTArchive& operator<<(QmRTArchive& archive, const qmo_qualtag& tag) {
  if (archive.m_storing == 0) throw -1;  // a const tag cannot be loaded
  WriteTag(archive, tag);
  return archive;
}

QmRTArchive& operator>>(QmRTArchive& archive, qmo_qualtag& tag) {
  int value = 0;
  try {
    archive >> value;
  } catch (...) {
    throw -1;
  }
  if (value != qmo_qual_bad && value != qmo_qual_good) throw -1;
  tag = static_cast<qmo_qualtag>(value);
  return archive;
}
