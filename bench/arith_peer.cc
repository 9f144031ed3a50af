// SPDX-License-Identifier: MIT
// The plain loops of bench/arith_peer.h, built for QMDATA_PEER_BUILD: this
// file at the library's flags, arith_native.cc again with -O3 -march=native.
// Sums are taken in unsigned so that wrap-around stays defined.

#include "arith_peer.h"

#ifndef QMDATA_PEER_BUILD
#define QMDATA_PEER_BUILD kPlain
#endif

template <LoopBuild B>
void Loops<B>::AddInPlace(int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] += b[i];
}

template <LoopBuild B>
void Loops<B>::AddStrided(int* a, const int* b, std::ptrdiff_t stride,
                          std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    a[i] += b[static_cast<std::ptrdiff_t>(i) * stride];
  }
}

template <LoopBuild B>
void Loops<B>::AddInto(int* out, const int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

template <LoopBuild B>
void Loops<B>::MulInPlace(int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] *= b[i];
}

template <LoopBuild B>
void Loops<B>::Scale(int* a, int f, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] *= f;
}

template <LoopBuild B>
int Loops<B>::Dot(const int* a, const int* b, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) {
    s += static_cast<unsigned>(a[i]) * static_cast<unsigned>(b[i]);
  }
  return static_cast<int>(s);
}

template <LoopBuild B>
int Loops<B>::Sum(const int* a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<unsigned>(a[i]);
  return static_cast<int>(s);
}

template <LoopBuild B>
int Loops<B>::SumSq(const int* a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) {
    s += static_cast<unsigned>(a[i]) * static_cast<unsigned>(a[i]);
  }
  return static_cast<int>(s);
}

template <LoopBuild B>
int Loops<B>::Maximum(const int* a, std::size_t n, int& index) {
  int best = a[0];
  std::size_t at = 0;
  for (std::size_t i = 1; i < n; ++i) {
    if (a[i] > best) {
      best = a[i];
      at = i;
    }
  }
  index = static_cast<int>(at);
  return best;
}

// out = v * A, A rows x cols stored row by row: row after row, scaled.
template <LoopBuild B>
void Loops<B>::VecMat(int* out, const int* v, const int* a, std::size_t rows,
                      std::size_t cols) {
  for (std::size_t j = 0; j < cols; ++j) out[j] = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    const int* row = a + i * cols;
    for (std::size_t j = 0; j < cols; ++j) out[j] += v[i] * row[j];
  }
}

// out = v * transpose(A): one dot product per row.
template <LoopBuild B>
void Loops<B>::VecMatT(int* out, const int* v, const int* a, std::size_t rows,
                       std::size_t cols) {
  for (std::size_t j = 0; j < rows; ++j) out[j] = Dot(v, a + j * cols, cols);
}

template struct Loops<QMDATA_PEER_BUILD>;
