// SPDX-License-Identifier: MIT
// The plain-loop peers again, built with -O3 -march=native (see
// bench/arith.cmake): the limit of this machine for the same loops.

#define QMDATA_PEER_BUILD kNative
#include "arith_peer.cc"
