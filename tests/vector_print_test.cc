// SPDX-License-Identifier: MIT
// Text output of QmMathLA::vector<int>.

#include <iomanip>
#include <sstream>

#include "mathla/vector.h"

#include "gtest/gtest.h"
#include "vector_support.h"

namespace {

TEST(VectorPrint, WorkedExamples) {
  const Vec v = Make({2, 7, 11});
  EXPECT_EQ(Printed(v, 3), "  2\t  7\t 11\n");
  EXPECT_EQ(Printed(v, 0), "2\t7\t11\n");
  EXPECT_EQ(Printed(v, -1), "2\t7\t11\n");
  EXPECT_EQ(Printed(v, -5), "2\t7\t11\n");
  EXPECT_EQ(Printed(Make({-4}), 5), "   -4\n");
  EXPECT_EQ(Printed(Make({123456}), 3), "123456\n");
  EXPECT_EQ(Printed(Vec(), 4), "");
}

TEST(VectorPrint, LeavesStreamSettingsAlone) {
  const Vec v = Make({2, -7});
  std::ostringstream os;
  os << std::left << std::setfill('*') << std::hex;
  v.print(os, 4);
  EXPECT_EQ(os.str(), "2***\tfffffff9\n");
  EXPECT_EQ(os.fill(), '*');
  EXPECT_TRUE(os.flags() & std::ios::left);
  EXPECT_TRUE(os.flags() & std::ios::hex);

  // An empty vector applies no width: the caller's stays for the next item.
  std::ostringstream pending;
  pending << std::setw(5);
  Vec().print(pending, 2);
  EXPECT_EQ(pending.width(), 5);
  pending << 1;
  EXPECT_EQ(pending.str(), "    1");

  // Printing changes neither the cursor nor the elements.
  Vec w = Make({1, 2, 3});
  w.setIndex(2);
  EXPECT_EQ(w.getIndex(), 2);
  EXPECT_EQ(Printed(w, 2), " 1\t 2\t 3\n");
}

}  // namespace
