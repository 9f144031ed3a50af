// SPDX-License-Identifier: MIT
// The version of the headers, the library and the package agree, and the
// archive's read-write stream constructors and the operators for const values
// link from outside the library.
#include "qmdata/version.h"

#include <cstring>
#include <iostream>
#include <sstream>
#include <utility>

#include "drange/datarange.h"
#include "drange/qualtag.h"
#include "rtarchive/archive.h"

int main() {
  const QmDataRange range(5, 10);
  std::stringstream bytes;
  QmRTArchive out(bytes, QmRTArchive::Mode::Store);
  out << range << qmo_qual_good;
  QmDataRange loaded;
  qmo_qualtag tag = qmo_qual_bad;
  auto in = QmRTArchive::Loading(bytes);
  in >> loaded >> tag;
  std::cout << "qmdata " << QmDataVersion() << " (headers "
            << QMDATA_VERSION_STRING << ", package " << QMDATA_PACKAGE_VERSION
            << "): " << std::as_const(loaded);
  const bool ok =
      std::strcmp(QmDataVersion(), QMDATA_VERSION_STRING) == 0 &&
      std::strcmp(QMDATA_PACKAGE_VERSION, QMDATA_VERSION_STRING) == 0 &&
      loaded == range && tag == qmo_qual_good;
  return ok ? 0 : 1;
}
