// SPDX-License-Identifier: MIT
// The quality tag's archive operators: one int, 0 or 1, no tag and no
// version. The operator, not the archive's storing flag, picks the
// direction.

#include "drange/qualtag.h"

#include <string>

#include "records/record_failure.h"
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
  qmdata::detail::RefuseConstLoad("quality tag", archive, "tag");
  WriteTag(archive, tag);
  return archive;
}

QmRTArchive& operator>>(QmRTArchive& archive, qmo_qualtag& tag) {
  using qmdata::detail::RecordSteps;
  qmdata::detail::GuardRecord("quality tag", archive, [&](RecordSteps& at) {
    at.Item("the value", 4);
    int value = 0;
    archive >> value;
    if (value != qmo_qual_bad && value != qmo_qual_good) {
      const std::string found = "value " + std::to_string(value);
      at.Refuse(found + " is neither 0 nor 1", "0 or 1", found);
    }
    tag = static_cast<qmo_qualtag>(value);
  });
  return archive;
}
