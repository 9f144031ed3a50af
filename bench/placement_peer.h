// SPDX-License-Identifier: MIT
// The peers of the placement sweep: the plain loops with __restrict
// operands, built -O3 -march=native (placement_native.cc) and again with
// -mno-avx512f as well (placement_native_avx2.cc), the native loop of an
// AVX2 machine, which the sweep takes as the peer when the library runs its
// AVX2 level. Only raw pointers cross the boundary. Arithmetic is done in
// unsigned, so repeated runs wrap without undefined behaviour.

#ifndef QMDATA_BENCH_PLACEMENT_PEER_H_
#define QMDATA_BENCH_PLACEMENT_PEER_H_

#include <cstddef>

enum PeerBuild { kNative, kNativeAvx2 };

template <PeerBuild B>
struct NativeLoops {
  static void Add(int* __restrict a, const int* __restrict b, std::size_t n);
  static void Sub(int* __restrict a, const int* __restrict b, std::size_t n);
  static void Mul(int* __restrict a, const int* __restrict b, std::size_t n);
  static void Scale(int* __restrict a, int k, std::size_t n);
  static int Dot(const int* __restrict a, const int* __restrict b,
                 std::size_t n);
  static int Sum(const int* __restrict a, std::size_t n);
};

#endif  // QMDATA_BENCH_PLACEMENT_PEER_H_
