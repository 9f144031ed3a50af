// SPDX-License-Identifier: MIT
// Round trips and failures of every record through the second archive
// library, with which qmdata was built: the records need only the fixed
// archive interface. Prints "N passed, M failed" and exits non-zero on any
// failure.

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "qmdata/failure.h"
#include "rtarchive/archive.h"

#include "record_data.h"
#include "vector_support.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
  (ok ? g_passed : g_failed)++;
  if (!ok) std::printf("FAILED: %s\n", what.c_str());
}

}  // namespace

int main() {
  for (int n : {0, 3, 1 << 20}) {
    std::vector<int> e(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) e[i] = (i % 1000) * (i % 2 ? -7 : 13);
    Vec v(n, e.data(), 0);
    for (bool compressed : {false, true}) {
      const std::string what =
          std::to_string(n) + (compressed ? " compressed" : " plain");
      const std::string bytes = Serialized(v, compressed);
      std::istringstream back_in(bytes);
      QmRTArchive in_back(back_in);
      Vec back(2, nullptr, 0);
      back.Serialize(in_back, compressed);
      Check(Elements(back) == e, what + ": round trip");
      // The second archive's own encoding: a marker byte before the tag.
      Check(bytes.size() > 5 && bytes[0] == 's' &&
                bytes.compare(5, 13, "<StartVector>") == 0,
            what + ": the other archive's bytes");
      // Cut short, the record throws -1 and says which record failed.
      std::istringstream is(bytes.substr(0, bytes.size() / 2));
      QmRTArchive in(is);
      Vec cut(1, nullptr, 0);
      Check(OutcomeOf([&] { cut.Serialize(in, compressed); }) == kMinusOne,
            what + ": cut gives -1");
      Check(std::string(QmLastRecordFailure().record) == "vector record" &&
                QmLastRecordFailure().offset == -1,
            what + ": reason " + QmLastRecordFailure().message);
      Check(cut.elems() == 1, what + ": a failed load leaves the vector");
    }
  }

  int vars[] = {2, 7, 11};
  QmDataSlice slice(Vec(3, vars, 0), 5, 10);
  qmo_qualtag good = qmo_qual_good;
  std::ostringstream os;
  QmRTArchive out(os);
  out << slice << good;
  QmDataSlice slice_back;
  qmo_qualtag tag_back = qmo_qual_bad;
  std::istringstream is(os.str());
  QmRTArchive in(is);
  in >> slice_back >> tag_back;
  Check(slice_back == slice && tag_back == qmo_qual_good,
        "slice and tag round trip");
  std::istringstream cut(os.str().substr(0, os.str().size() - 3));
  QmRTArchive in_cut(cut);
  Check(OutcomeOf([&] { in_cut >> slice_back >> tag_back; }) == kMinusOne,
        "cut tag gives -1");
  Check(std::string(QmLastRecordFailure().record) == "quality tag",
        std::string("tag reason: ") + QmLastRecordFailure().message);

  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
