// SPDX-License-Identifier: MIT
// Data for archive records, shared by the tests and the archive benchmark
// (so it stays free of GoogleTest): element patterns and the records that
// vectors write.

#ifndef QMDATA_TESTS_RECORD_DATA_H_
#define QMDATA_TESTS_RECORD_DATA_H_

#include <cstddef>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mathla/vector.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

// n elements of a value pattern, the same on every run: 0 small values in
// [-100, 100), 1 an ascending run from 1000000, 2 uniformly random.
inline std::vector<int> Pattern(int which, int n) {
  std::vector<int> e(static_cast<std::size_t>(n));
  std::mt19937 rng(12345);
  for (int i = 0; i < n; ++i) {
    if (which == 0) e[i] = static_cast<int>(rng() % 200) - 100;
    if (which == 1) e[i] = 1000000 + i;
    if (which == 2) e[i] = static_cast<int>(rng());
  }
  return e;
}

// How f ended: normally (0), with the records' int -1, std::bad_alloc, the
// archive's error, or anything else, other ints too.
enum Outcome { kMinusOne = -1, kCompleted, kBadAlloc, kArchiveError, kOther };

template <typename F>
Outcome OutcomeOf(F&& f) {
  try {
    f();
  } catch (const std::bad_alloc&) {
    return kBadAlloc;
  } catch (int e) {
    return e == -1 ? kMinusOne : kOther;
#ifdef QMDATA_RTARCHIVE_EXPORT  // qmdata's own archive; another may lack it
  } catch (const QmArchiveError&) {
    return kArchiveError;
#endif
  } catch (...) {
    return kOther;
  }
  return kCompleted;
}

// The bytes a vector's record takes, plain or compressed.
template <typename V>
std::string Serialized(V& v, bool compressed) {
  std::ostringstream os;
  QmRTArchive ar(os);
  v.Serialize(ar, compressed);
  return os.str();
}

// raw compressed by CZLibCompression: a zlib stream.
inline std::string Packed(const std::string& raw) {
  CZLibCompression z;
  unsigned long n = 0;
  void* out = nullptr;
  if (!z.Compress(raw.data(), raw.size(), n, &out)) return "";
  return std::string(static_cast<const char*>(out), n);
}

// The record of a vector holding the elements e.
inline std::string Record(const std::vector<int>& e, bool compressed) {
  QmMathLA::vector<int> v(static_cast<int>(e.size()), e.data(), 0);
  return Serialized(v, compressed);
}

#endif  // QMDATA_TESTS_RECORD_DATA_H_
