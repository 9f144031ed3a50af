// SPDX-License-Identifier: MIT
// The sweep's peer loops again, built -O3 -march=native -mno-avx512f (see
// bench/placement.cmake): the native loop of a machine without AVX-512.

#define PLACEMENT_PEER_BUILD kNativeAvx2
#include "placement_native.cc"
