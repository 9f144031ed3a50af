// SPDX-License-Identifier: MIT
// Must not compile: QMDATA_MISUSE is one statement of run.sh's table of
// mistakes, each of which the compiler must answer by naming the call to
// write instead.
#include <fstream>
#include <iostream>

#include "mathla/vector.h"
#include "rtarchive/archive.h"

void Misuse(QmRTArchive& ar, QmMathLA::vector<int>& v,
            const QmMathLA::vector<int>& c, std::fstream& f) {
  QMDATA_MISUSE;
}
