// SPDX-License-Identifier: MIT
// Loads the records that python/crosscheck.py wrote (other zlib writers and
// levels, multi-block streams, damaged records) and compares each outcome
// with its manifest line. Runs when QMDATA_CROSSCHECK_DIR names the folder;
// .ci/python_crosscheck.sh sets it.

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qmdata/failure.h"
#include "rtarchive/archive.h"

#include "record_support.h"

namespace {

TEST(CrossCheck, LoadsWhatPythonWroteAndRefusesTheDamage) {
  const char* dir = std::getenv("QMDATA_CROSSCHECK_DIR");
  if (dir == nullptr) GTEST_SKIP() << "QMDATA_CROSSCHECK_DIR is not set";
  std::ifstream manifest(std::string(dir) + "/manifest.txt");
  ASSERT_TRUE(manifest.good());
  int cases = 0;
  for (std::string line; std::getline(manifest, line); ++cases) {
    std::istringstream fields(line);
    std::string file, kind, outcome;
    fields >> file >> kind >> outcome;
    std::vector<int> want;
    for (int v; outcome == "ok" && fields >> v;) want.push_back(v);
    std::ifstream in(std::string(dir) + "/" + file, std::ios::binary);
    QmRTArchive ar(in);
    std::vector<int> got;
    const Outcome thrown = OutcomeOf([&] {
      // Records in the order named: "qualtag,slice".
      std::istringstream kinds(kind);
      for (std::string k; std::getline(kinds, k, ',');) got = LoadRecord(k, ar);
    });
    if (outcome == "fail") {
      // The same cause at the same offset as the Python reader's.
      long long offset = -2;
      fields >> offset;
      std::string words;
      std::getline(fields >> std::ws, words);
      const QmRecordFailure why = QmLastRecordFailure();
      EXPECT_EQ(thrown, -1) << file;
      EXPECT_EQ(why.offset, offset) << file << ": " << why.message;
      EXPECT_NE(std::string(why.message).find(words), std::string::npos)
          << file << ": " << why.message;
    } else {
      EXPECT_EQ(thrown, 0) << file;
      EXPECT_TRUE(got == want) << file;
      EXPECT_EQ(in.peek(), std::char_traits<char>::eof()) << file;
    }
  }
  EXPECT_GT(cases, 20);
}

}  // namespace
