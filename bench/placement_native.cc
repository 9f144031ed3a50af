// SPDX-License-Identifier: MIT
// The loops of bench/placement_peer.h, built with -O3 -march=native.

#include "placement_peer.h"

namespace {
unsigned U(int v) { return static_cast<unsigned>(v); }
int S(unsigned v) { return static_cast<int>(v); }
}  // namespace

void NativeLoops::Add(int* __restrict a, const int* __restrict b,
                      std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) + U(b[i]));
}

void NativeLoops::Sub(int* __restrict a, const int* __restrict b,
                      std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) - U(b[i]));
}

void NativeLoops::Mul(int* __restrict a, const int* __restrict b,
                      std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) * U(b[i]));
}

void NativeLoops::Scale(int* __restrict a, int k, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) * U(k));
}

int NativeLoops::Dot(const int* __restrict a, const int* __restrict b,
                     std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]) * U(b[i]);
  return S(s);
}

int NativeLoops::Sum(const int* __restrict a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]);
  return S(s);
}
