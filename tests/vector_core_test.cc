// SPDX-License-Identifier: MIT
// Storage, sharing, unhook, construction and element access of
// QmMathLA::vector<int>.

#include <climits>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "mathla/vector.h"

#include "alloc_tracker.h"
#include "vector_support.h"

namespace {

// Allocation checks hold only where the library's allocations reach the
// replaced operators (not across a Windows DLL boundary).
#define EXPECT_TRACKED_EQ(a, b) \
  do {                          \
    if (kAllocationsTracked) {  \
      EXPECT_EQ(a, b);          \
    }                           \
  } while (0)

TEST(VectorStorage, EmptyVectorIsAllZeroAndAllocatesNothing) {
  alloc_tracker::Scope scope;
  {
    Vec a;
    EXPECT_TRUE(AllFieldsZero(a));
    Vec b(a);
    Vec c(a, 1);
    Vec d;
    d = a;
    EXPECT_TRUE(AllFieldsZero(b));
    EXPECT_TRUE(AllFieldsZero(c));
    EXPECT_TRUE(AllFieldsZero(d));
    EXPECT_EQ(a.elems(), 0);
    EXPECT_EQ(a.unhook(), nullptr);
  }
  EXPECT_EQ(scope.allocated(), 0);
  EXPECT_EQ(scope.released(), 0);
  // Zero-filled storage is a valid empty vector.
  alignas(Vec) unsigned char raw[sizeof(Vec)] = {};
  Vec copy(*reinterpret_cast<Vec*>(raw));
  EXPECT_TRUE(AllFieldsZero(copy));
}

TEST(VectorStorage, OwnedBlockIsThreeAllocations) {
  SKIP_UNLESS_ALLOCATIONS_TRACKED();
  const int raw[] = {1, 2, 3};
  alloc_tracker::Scope scope;
  {
    Vec v(3, raw, 0);
    EXPECT_EQ(scope.allocated(), 3);
    const VectorFields f = FieldsOf(v);
    EXPECT_EQ(*f.lock, 0);
    EXPECT_EQ(*f.refs, 1);
  }
  EXPECT_EQ(scope.released(), 3);
}

TEST(VectorSharing, CountsFollowEverySharer) {
  alloc_tracker::Scope scope;
  auto* a = new Vec(Make({1, 2, 3, 4}));
  const int* data = FieldsOf(*a).data;
  alloc_tracker::watched = data;
  alloc_tracker::watched_releases = 0;
  auto* b = new Vec(*a);
  auto* c = new Vec(*b);
  auto* d = new Vec;
  *d = *c;
  for (const Vec* v : {a, b, c, d}) {
    EXPECT_EQ(SharedCount(*v), 4);
    EXPECT_EQ(FieldsOf(*v).data, data);
  }
  delete a;
  delete c;
  delete d;
  EXPECT_EQ(SharedCount(*b), 1);
  EXPECT_TRACKED_EQ(alloc_tracker::watched_releases, 0);
  delete b;
  EXPECT_TRACKED_EQ(alloc_tracker::watched_releases, 1);
  alloc_tracker::watched = nullptr;
  // Every vector object, and the element array, count and lock word.
  EXPECT_TRACKED_EQ(scope.allocated(), scope.released());
}

TEST(VectorSharing, SelfAndSameBlockAssignmentKeepTheCount) {
  Vec a = Make({5, 6});
  Vec b(a);
  Vec& alias = a;
  a = alias;
  EXPECT_EQ(SharedCount(a), 2);
  a = b;
  EXPECT_EQ(SharedCount(a), 2);
  EXPECT_EQ(Elements(a), (IntList{5, 6}));
  // Assigning another block lets go of the old one.
  Vec c = Make({7});
  a = c;
  EXPECT_EQ(SharedCount(b), 1);
  EXPECT_EQ(SharedCount(c), 2);
}

TEST(VectorSharing, WritesThroughOneSharerAreSeenByAll) {
  Vec a = Make({10, 20, 30, 40, 50});
  const Vec b(a);
  a[7] = 99;
  EXPECT_EQ(b[2], 99);
  *b = -1;  // const vectors hand out writable elements
  EXPECT_EQ(a[0], -1);
}

TEST(VectorSharing, DeepCopyHasItsOwnBlockAndCursor) {
  Vec a = Make({1, 2, 3});
  a.setIndex(2);
  Vec shared(a, 0);
  Vec deep(a, 7);
  EXPECT_EQ(SharedCount(a), 2);
  EXPECT_EQ(SharedCount(deep), 1);
  EXPECT_NE(FieldsOf(deep).data, FieldsOf(a).data);
  EXPECT_EQ(Elements(deep), (IntList{1, 2, 3}));
  EXPECT_EQ(shared.getIndex(), 2);
  EXPECT_EQ(deep.getIndex(), 0);
  shared.setIndex(0);
  EXPECT_EQ(a.getIndex(), 2);
}

TEST(VectorConstruction, SubRangeClampsItsArguments) {
  const Vec src = Make({10, 20, 30, 40, 50});
  EXPECT_EQ(Elements(Vec(src, 0, 0)), (IntList{10, 20, 30, 40, 50}));
  EXPECT_EQ(Elements(Vec(src, 2, 1)), (IntList{20, 30}));
  EXPECT_EQ(Elements(Vec(src, 10, 3)), (IntList{40, 50}));
  EXPECT_EQ(Elements(Vec(src, 2, -4)), (IntList{10, 20}));
  EXPECT_TRUE(AllFieldsZero(Vec(src, 1, 5)));
  EXPECT_EQ(Elements(Vec(src, -1, 2)), (IntList{30, 40, 50}));
  // offset + length beyond the int range.
  EXPECT_EQ(Elements(Vec(src, INT_MAX, 4)), (IntList{50}));
  EXPECT_TRUE(AllFieldsZero(Vec(src, INT_MAX, INT_MAX)));
  EXPECT_TRUE(AllFieldsZero(Vec(Vec(), 0, 0)));
  const Vec sub(src, 2, 1);
  EXPECT_EQ(SharedCount(sub), 1);
  EXPECT_EQ(SharedCount(src), 1);
}

TEST(VectorConstruction, CountArrayAndAdoptFlag) {
  int raw[3] = {7, 8, 9};
  EXPECT_TRUE(AllFieldsZero(Vec(0, raw, 0)));
  EXPECT_TRUE(AllFieldsZero(Vec(-3, raw, 1)));
  alloc_tracker::Scope scope;
  {
    Vec owned(3, nullptr, 1);  // adopt with no array: an owned block
    EXPECT_EQ(owned.elems(), 3);
    EXPECT_EQ(SharedCount(owned), 1);
  }
  EXPECT_TRACKED_EQ(scope.allocated(), 3);
  EXPECT_TRACKED_EQ(scope.released(), 3);
  {
    Vec adopted(3, raw, 1);
    EXPECT_EQ(FieldsOf(adopted).data, raw);
    EXPECT_EQ(FieldsOf(adopted).refs, nullptr);
    adopted[1] = 80;
    Vec alias(adopted);
    Vec assigned;
    assigned = alias;
    EXPECT_EQ(FieldsOf(alias).data, raw);
    EXPECT_EQ(FieldsOf(assigned).refs, nullptr);
    EXPECT_EQ(alias.unhook(), nullptr);
    EXPECT_EQ(Vec(adopted, 1).elems(), 3);  // a deep copy owns a block
  }
  EXPECT_EQ(raw[0], 7);
  EXPECT_EQ(raw[1], 80);
  EXPECT_TRACKED_EQ(scope.allocated(), scope.released());
}

TEST(VectorConstruction, ViewCopiesStridedMembers) {
  const int raw[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(Elements(Vec(QmMathLA::rowcol<int>{2, 3, raw})),
            (IntList{1, 3, 5}));
  EXPECT_EQ(Elements(Vec(QmMathLA::rowcol<int>{0, 3, raw + 1})),
            (IntList{2, 2, 2}));
  EXPECT_EQ(Elements(Vec(QmMathLA::rowcol<int>{-2, 3, raw + 5})),
            (IntList{6, 4, 2}));
  EXPECT_TRUE(AllFieldsZero(Vec(QmMathLA::rowcol<int>{1, 0, raw})));
  EXPECT_TRUE(AllFieldsZero(Vec(QmMathLA::rowcol<int>{1, -2, raw})));
}

TEST(VectorConstruction, MaskedSelection) {
  const Vec src = Make({1, 2, 3, 4});
  struct Case {
    IntList mask;
    IntList expected;
    int cursor_after;
  };
  const Case cases[] = {
      {{1, 0, 1, 0}, {1, 3}, 0},
      {{0, 0, 0, 0}, {}, 0},
      {{}, {1, 2, 3, 4}, 0},
      {{5, -1, 7, 2}, {1, 2, 3, 4}, 0},
      {{1, 0, 1, 0, 1, 1}, {1, 3}, 4},
      // A mask shorter than the source selects among its first entries only.
      {{0, 1}, {2}, 0},
      {{1, 0, 1}, {1, 3}, 0},
      {{1, 1, 1}, {1, 2, 3}, 0},
  };
  for (const Case& c : cases) {
    Vec mask = c.mask.empty()
                   ? Vec()
                   : Vec(static_cast<int>(c.mask.size()), c.mask.data(), 0);
    if (mask.elems() > 0) mask.setIndex(1);
    const Vec selected(src, mask);
    EXPECT_EQ(Elements(selected), c.expected);
    if (!c.expected.empty()) {
      EXPECT_EQ(SharedCount(selected), 1);
      EXPECT_NE(FieldsOf(selected).data, FieldsOf(src).data);
    }
    if (mask.elems() > 0) EXPECT_EQ(mask.getIndex(), c.cursor_after);
  }
  // An empty source leaves the mask's cursor where it was.
  Vec mask = Make({1, 0, 1});
  mask.setIndex(2);
  EXPECT_TRUE(AllFieldsZero(Vec(Vec(), mask)));
  EXPECT_EQ(mask.getIndex(), 2);
  EXPECT_EQ(SharedCount(src), 1);
}

TEST(VectorConstruction, HugeCountsFailCleanly) {
  alloc_tracker::Scope scope;
  EXPECT_THROW(Vec(0x40000000, nullptr, 0), std::bad_array_new_length);
  EXPECT_THROW(Vec(INT_MAX, nullptr, 0), std::bad_array_new_length);
  int a[1] = {};
  EXPECT_THROW(Vec(0x40000000, a, 1), std::bad_array_new_length);
  EXPECT_TRACKED_EQ(scope.allocated(), 0);
}

TEST(VectorUnhook, CallerOwnsTheArrayAfterTheLastSharer) {
  alloc_tracker::Scope scope;
  int* array = nullptr;
  {
    Vec a = Make({3, 1, 4});
    Vec b(a);
    array = a.unhook();
    EXPECT_EQ(array, FieldsOf(b).data);
    EXPECT_EQ(SharedCount(a), -2);
    Vec c(b);
    EXPECT_EQ(SharedCount(c), -3);
    EXPECT_EQ(c.unhook(), nullptr);
    EXPECT_EQ(b.unhook(), nullptr);
    Vec d;
    d = c;
    EXPECT_EQ(SharedCount(d), -4);
  }
  // The count and the lock word are gone; the array is not.
  EXPECT_TRACKED_EQ(scope.allocated() - scope.released(), 1);
  EXPECT_EQ(array[0], 3);
  EXPECT_EQ(array[2], 4);
  delete[] array;
}

TEST(VectorAccess, IndexWrapsBothWays) {
  const Vec v = Make({10, 20, 30, 40, 50});
  // Index, and where it lands: INT_MIN % 5 is -3, INT_MAX % 5 is 2.
  const int cases[][2] = {{0, 0},  {4, 4},  {5, 0},       {12, 2},     {-1, 4},
                          {-5, 0}, {-6, 4}, {INT_MIN, 2}, {INT_MAX, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(v[c[0]], (c[1] + 1) * 10) << c[0];
    v.setIndex(c[0]);
    EXPECT_EQ(v.getIndex(), c[1]) << c[0];
  }
  v.setIndex(-2);
  EXPECT_EQ(*v, 40);
  // The standard range is every element whatever the cursor (here 3), in
  // both overloads; size() counts elements.
  Vec w = v;
  EXPECT_EQ(IntList(v.begin(), v.end()), Elements(v));
  EXPECT_EQ(IntList(w.begin(), w.end()), Elements(v));
  EXPECT_EQ(v.size(), 5U);
}

TEST(VectorAccess, CursorMovesCyclically) {
  const Vec v = Make({10, 20, 30, 40, 50});
  EXPECT_EQ(*++v, 20);
  EXPECT_EQ(v.getIndex(), 1);
  EXPECT_EQ(*v++, 20);
  EXPECT_EQ(v.getIndex(), 2);
  v.setIndex(4);
  EXPECT_EQ(*++v, 10);
  EXPECT_EQ(v.getIndex(), 0);
  v.setIndex(4);
  EXPECT_EQ(*v++, 50);
  EXPECT_EQ(v.getIndex(), 0);
  EXPECT_EQ(*--v, 50);
  EXPECT_EQ(v.getIndex(), 4);
  v.setIndex(0);
  EXPECT_EQ(*v--, 10);
  EXPECT_EQ(v.getIndex(), 4);
  *v-- = 55;  // writes through a const vector's pointer
  EXPECT_EQ(v[4], 55);
  EXPECT_EQ(v.getIndex(), 3);
  v.setIndex(1);
  EXPECT_EQ(*v--, 20);
  EXPECT_EQ(v.getIndex(), 0);
}

TEST(VectorAccess, EmptyVectorHasNoElements) {
  const Vec v;
  EXPECT_THROW(v[0], std::out_of_range);
  EXPECT_THROW(*v, std::out_of_range);
  v.setIndex(3);
  EXPECT_EQ(v.getIndex(), 0);
  EXPECT_EQ(++v, nullptr);
  EXPECT_EQ(v.getIndex(), 0);
  EXPECT_EQ(v++, nullptr);
  EXPECT_EQ(v.getIndex(), 0);
  EXPECT_EQ(--v, nullptr);
  EXPECT_EQ(v.getIndex(), -1);
  EXPECT_EQ(v--, nullptr);
  EXPECT_EQ(v.getIndex(), -1);
  EXPECT_EQ(++v, nullptr);
  EXPECT_EQ(v.getIndex(), 0);
  EXPECT_EQ(Vec::GetVersion(), 1);
}

}  // namespace
