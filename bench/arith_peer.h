// SPDX-License-Identifier: MIT
// The plain-loop peers of the arithmetic benchmark: the loops anyone would
// write over std::vector<int> data. arith_peer.cc builds Loops<kPlain> at the
// library's flags; arith_native.cc includes it again to build Loops<kNative>
// with -O3 -march=native. Only raw pointers cross the boundary, so no inline
// library code compiled for this CPU can leak into the rest of the program.

#ifndef QMDATA_BENCH_ARITH_PEER_H_
#define QMDATA_BENCH_ARITH_PEER_H_

#include <cstddef>

enum LoopBuild { kPlain, kNative };

template <LoopBuild B>
struct Loops {
  static void AddInPlace(int* a, const int* b, std::size_t n);
  static void AddStrided(int* a, const int* b, std::ptrdiff_t stride,
                         std::size_t n);
  static void AddInto(int* out, const int* a, const int* b, std::size_t n);
  static void MulInPlace(int* a, const int* b, std::size_t n);
  static void Scale(int* a, int f, std::size_t n);
  static int Dot(const int* a, const int* b, std::size_t n);
  static int Sum(const int* a, std::size_t n);
  static int SumSq(const int* a, std::size_t n);
  static int Maximum(const int* a, std::size_t n, int& index);
  // out = v * A and v * transpose(A), A rows x cols stored row by row.
  static void VecMat(int* out, const int* v, const int* a, std::size_t rows,
                     std::size_t cols);
  static void VecMatT(int* out, const int* v, const int* a, std::size_t rows,
                      std::size_t cols);
};

#endif  // QMDATA_BENCH_ARITH_PEER_H_
