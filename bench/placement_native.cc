// SPDX-License-Identifier: MIT
// The loops of bench/placement_peer.h for PLACEMENT_PEER_BUILD: this file
// with -O3 -march=native, placement_native_avx2.cc with -mno-avx512f too.

#include "placement_peer.h"

#ifndef PLACEMENT_PEER_BUILD
#define PLACEMENT_PEER_BUILD kNative
#endif

namespace {
unsigned U(int v) { return static_cast<unsigned>(v); }
int S(unsigned v) { return static_cast<int>(v); }
}  // namespace

template <PeerBuild B>
void NativeLoops<B>::Add(int* __restrict a, const int* __restrict b,
                         std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) + U(b[i]));
}

template <PeerBuild B>
void NativeLoops<B>::Sub(int* __restrict a, const int* __restrict b,
                         std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) - U(b[i]));
}

template <PeerBuild B>
void NativeLoops<B>::Mul(int* __restrict a, const int* __restrict b,
                         std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) * U(b[i]));
}

template <PeerBuild B>
void NativeLoops<B>::Scale(int* __restrict a, int k, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] = S(U(a[i]) * U(k));
}

template <PeerBuild B>
int NativeLoops<B>::Dot(const int* __restrict a, const int* __restrict b,
                        std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]) * U(b[i]);
  return S(s);
}

template <PeerBuild B>
int NativeLoops<B>::Sum(const int* __restrict a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += U(a[i]);
  return S(s);
}

template struct NativeLoops<PLACEMENT_PEER_BUILD>;
