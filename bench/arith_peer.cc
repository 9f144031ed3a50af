// The plain-loop peers of the arithmetic benchmark: the loops anyone would
// write over std::vector<int> data. This file is compiled at the library's
// flags; arith_native.cc includes it again to build the same loops with
// -O3 -march=native. Only raw pointers cross the boundary, so no inline
// library code compiled for this CPU can leak into the rest of the program.
// Sums are taken in unsigned so that wrap-around stays defined.

#include <cstddef>

#ifndef QMDATA_PEER_NS
#define QMDATA_PEER_NS plain
#endif

namespace QMDATA_PEER_NS {

void AddInPlace(int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] += b[i];
}

void AddStrided(int* a, const int* b, std::ptrdiff_t stride, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    a[i] += b[static_cast<std::ptrdiff_t>(i) * stride];
  }
}

void AddInto(int* out, const int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

void MulInPlace(int* a, const int* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] *= b[i];
}

void Scale(int* a, int f, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) a[i] *= f;
}

int Dot(const int* a, const int* b, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) {
    s += static_cast<unsigned>(a[i]) * static_cast<unsigned>(b[i]);
  }
  return static_cast<int>(s);
}

int Sum(const int* a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<unsigned>(a[i]);
  return static_cast<int>(s);
}

int SumSq(const int* a, std::size_t n) {
  unsigned s = 0;
  for (std::size_t i = 0; i < n; ++i) {
    s += static_cast<unsigned>(a[i]) * static_cast<unsigned>(a[i]);
  }
  return static_cast<int>(s);
}

int Maximum(const int* a, std::size_t n, int& index) {
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
void VecMat(int* out, const int* v, const int* a, std::size_t rows,
            std::size_t cols) {
  for (std::size_t j = 0; j < cols; ++j) out[j] = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    const int* row = a + i * cols;
    for (std::size_t j = 0; j < cols; ++j) out[j] += v[i] * row[j];
  }
}

// out = v * transpose(A): one dot product per row.
void VecMatT(int* out, const int* v, const int* a, std::size_t rows,
             std::size_t cols) {
  for (std::size_t j = 0; j < rows; ++j) out[j] = Dot(v, a + j * cols, cols);
}

}  // namespace QMDATA_PEER_NS
