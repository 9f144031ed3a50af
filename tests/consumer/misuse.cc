// SPDX-License-Identifier: MIT
// Must not compile: QMDATA_MISUSE is a statement of run.sh's table.
#include <fstream>
#include <iostream>

#include "mathla/vector.h"
#include "rtarchive/archive.h"

void Misuse(QmRTArchive& ar, QmMathLA::vector<int>& v,
            const QmMathLA::vector<int>& c, std::fstream& f) {
  QMDATA_MISUSE;
}
