// SPDX-License-Identifier: MIT
// The vector as a standard range, with mathla/vector.h alone: range-for, the
// std::ranges algorithms and std::span, read and written through the shared
// block.
#include <algorithm>
#include <iostream>
#include <iterator>
#include <numeric>
#include <ranges>
#include <span>

#include "mathla/vector.h"

using Vec = QmMathLA::vector<int>;
static_assert(std::ranges::contiguous_range<Vec>);
static_assert(std::ranges::sized_range<Vec>);
static_assert(std::ranges::contiguous_range<const Vec>);
// A const vector gives only const elements, like the standard containers.
static_assert(!std::is_constructible_v<std::span<int>, const Vec&>);
static_assert(Vec::GetVersion() == 1);

int main() {
  int raw[] = {30, -5, 12, 7};
  Vec v(4, raw, 0);
  const Vec sharer = v;  // shares v's block

  int total = 0;
  for (int x : v) total += x;

  std::ranges::sort(v);
  std::span<int> writable(v);
  writable[0] += 1000;  // -5 becomes 995, seen by every sharer
  std::span<const int> view(sharer);

  int out[4] = {};
  std::ranges::copy(sharer, out);
  const bool ok = total == 44 && std::ranges::equal(view, std::span<const int>(out)) &&
                  out[0] == 995 && out[1] == 7 && out[3] == 30 &&
                  std::ranges::size(v) == 4 && std::ranges::data(sharer) == v.data() &&
                  std::ranges::empty(Vec()) && std::ranges::distance(Vec()) == 0;
  for (int x : sharer) std::cout << x << ' ';
  std::cout << "\nranges: " << (ok ? "ok" : "WRONG") << "\n";
  return ok ? 0 : 1;
}
