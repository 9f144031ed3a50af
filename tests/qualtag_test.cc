// SPDX-License-Identifier: MIT
// The quality tag's archive operators.

#include "drange/qualtag.h"

#include <climits>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "qmdata/failure.h"
#include "rtarchive/archive.h"

#include "record_support.h"

// Every form of tag (variable, const, enumerator, cast, moved) is stored as
// 1 for good and 0 for anything else, and left as it was.
TEST(QualTag, WritesOneForGoodAndZeroForAnythingElse) {
  std::ostringstream os;
  QmRTArchive out(os);
  qmo_qualtag good = qmo_qual_good;
  qmo_qualtag two = static_cast<qmo_qualtag>(2);
  const qmo_qualtag const_good = qmo_qual_good;
  const qmo_qualtag const_minus = static_cast<qmo_qualtag>(-1);
  out << good << two << const_good << const_minus << qmo_qual_good
      << qmo_qual_bad << static_cast<qmo_qualtag>(1)
      << static_cast<qmo_qualtag>(INT32_MIN) << std::move(good)
      << std::move(two);
  EXPECT_EQ(os.str(), Ints({1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(os.str().substr(0, 4), ReadFixture("qualtag_good.bin"));
  EXPECT_EQ(os.str().substr(4, 4), ReadFixture("qualtag_bad.bin"));
  EXPECT_EQ(two, 2);
  EXPECT_EQ(const_minus, -1);
}

// 1 loads as good and 0 as bad; any other value is refused, the tag left
// as it was.
TEST(QualTag, ReadsZeroAndOneOnly) {
  for (int stored : {1, 0, 2, -1, 256, INT_MIN, INT_MAX}) {
    std::istringstream is(Ints({stored}));
    QmRTArchive in(is);
    qmo_qualtag tag = static_cast<qmo_qualtag>(5);
    const bool valid = stored == 0 || stored == 1;
    EXPECT_EQ(OutcomeOf([&] { in >> tag; }), valid ? kCompleted : kMinusOne)
        << stored;
    EXPECT_EQ(tag, valid ? stored : 5) << stored;
  }
}

TEST(QualTag, OperatorAgainstTheArchiveLeavesTheStreamAlone) {
  // The operator picks the direction; the archive refuses the other one.
  std::stringstream ss(Ints({1}));
  QmRTArchive storing(static_cast<std::ostream&>(ss));
  qmo_qualtag read_back = qmo_qual_bad;
  EXPECT_EQ(OutcomeOf([&] { storing >> read_back; }), kMinusOne);
  EXPECT_EQ(read_back, qmo_qual_bad);
  EXPECT_NE(std::string(QmLastRecordFailure().message).find("storing"),
            std::string::npos);

  QmRTArchive loading(static_cast<std::istream&>(ss));
  qmo_qualtag good = qmo_qual_good;
  EXPECT_THROW(loading << good, QmArchiveError);
  EXPECT_EQ(ss.str(), Ints({1}));
  EXPECT_EQ(ss.tellg(), 0);
  EXPECT_TRUE(ss.good());
}
