// Uses each public header of an installed qmdata once.
#include <iostream>
#include <sstream>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

int main() {
  int vars[] = {2, 7, 11};
  QmDataSlice slice(QmMathLA::vector<int>(3, vars, 0), 5, 10);
  qmo_qualtag tag = qmo_qual_good;
  std::stringstream bytes;
  {
    QmRTArchive out(static_cast<std::ostream&>(bytes));
    out << slice << tag;
  }
  QmDataSlice loaded;
  qmo_qualtag loaded_tag = qmo_qual_bad;
  QmRTArchive in(static_cast<std::istream&>(bytes));
  in >> loaded >> loaded_tag;
  std::cout << loaded << "compression backend: " << CZLibCompression::Backend()
            << "\n";
  return (loaded == slice && loaded_tag == tag) ? 0 : 1;
}
