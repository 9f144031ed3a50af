// SPDX-License-Identifier: MIT
// QmMathLA::vector<int>: an integer vector whose element block is shared.
//
// Copying, assigning and returning a vector share one heap block of elements
// without copying them; the block carries a shared count and a lock word, and
// the last vector to let go frees it. In-place operations (element writes,
// compound operators, fills) write the shared block, so every copy sees them:
// there is no copy on write. Value-returning operators build their result on
// a deep copy of the left operand, so a result never shares an operand's
// block. A vector may also alias an array that the caller owns (adopted),
// which is never counted, locked or freed.
//
//   int raw[] = {10, 20, 30};
//   QmMathLA::vector<int> a(3, raw, 0);   // owns a copy of raw
//   QmMathLA::vector<int> b = a;          // shares a's block
//   b[1] = 99;                            // a[1] is 99 too
//   QmMathLA::vector<int> c = a + b;      // fresh block [20, 198, 60]
//
// Thread safety: taking and dropping shares is locked per block, so distinct
// vector objects that share a block may be copied, assigned and destroyed on
// different threads at once. The elements are not locked: concurrent writes
// (or a write and a read) of one block's elements through different sharers
// must be ordered by the caller. One vector object must not be used from two
// threads when either changes it; the cursor moves even in const members.
//
// Failures. Every allocation may fail; nothing leaks when one does, and no
// vector that shares a block with the one in hand is ever disturbed:
//   - the allocating constructors (count/array, deep copy, sub-range, view,
//     mask) and the value-returning operators throw std::bad_alloc and make
//     no vector; their sources and operands are unchanged (a mask's cursor
//     still moves). Sharing copies, assignment, destruction and unhook
//     allocate nothing;
//   - storing (Serialize, ZipIn, UnzipOut on a storing archive) never changes
//     the vector; a failure throws -1 and leaves in the stream the bytes
//     already written;
//   - loading reads the elements into a fresh block that replaces this
//     vector's only once every element is in: any failure before that
//     (stream, allocation, tag, version, count, decompression) throws -1 and
//     leaves the vector as it was. A wrong or missing end tag after that
//     throws -1 and the vector keeps the loaded elements. After every -1,
//     QmLastRecordFailure() says why.
//
// Standard ranges. A vector is a contiguous, sized range of its elements
// (data, size, begin, end), so range-for, the std::ranges algorithms and
// std::span work on it:
//
//   for (int x : a) total += x;
//   std::ranges::sort(a);                  // sorts the shared block
//   std::span<const int> s(a);             // a[0] .. a[elems() - 1]
//
// These are non-virtual inline members rather than free functions: the
// std::ranges customisation points and range-for look for members first,
// nothing else need be declared or found by lookup, and the object keeps its
// layout. Each comes in a non-const form handing out int* (without it
// std::ranges::begin on a vector would find only the const one, and
// std::span<int> and the sorts would not compile) and a const form handing
// out const int*, as the standard containers do. They never move the
// cursor. A span or iterator is valid while some vector
// holds the block: assigning, loading or destroying the last sharer ends it.

#ifndef QMDATA_MATHLA_VECTOR_H_
#define QMDATA_MATHLA_VECTOR_H_

#include <cstddef>
#include <iosfwd>

#include "qmdata/export.h"

class QmRTArchive;

namespace QmMathLA {

// A read-only strided view of one row or column of a matrix: member k lies
// at m_data + k * m_stride. Any stride is allowed, 0 and negative included.
template <typename T>
struct rowcol {
  int m_stride;     // distance in elements between consecutive members
  int m_count;      // number of members
  const T* m_data;  // member 0
};

// A read-only dense matrix of m_rows x m_cols elements stored row by row:
// element (r, c) lies at m_data + r * m_cols + c. A non-zero m_trans asks
// for the transpose to be read; the storage itself never changes.
template <typename T>
struct matrix {
  int m_rows;
  int m_cols;
  int m_trans;
  const T* m_data;
};

template <typename T>
class QMDATA_TEMPLATE vector {
 public:
  // The empty vector: all five fields zero.
  vector();
  // deep == 0: a sharing copy of src (same block, src's cursor).
  // deep != 0: a deep copy (fresh block, count 1, cursor 0).
  vector(const vector& src, int deep = 0);
  // Deep copy of src elements [offset, offset + length), clamped: a length of
  // 0 or less means "to the end", a negative offset means 0. Empty if nothing
  // is left.
  vector(const vector& src, int length, int offset);
  // A fresh block holding the members of the view, in order. Empty when
  // view.m_count <= 0.
  explicit vector(const rowcol<T>& view);
  // count <= 0: empty. adopt != 0 with a non-null src: alias src (the caller
  // keeps ownership and the vector may write through it). Otherwise a fresh
  // block of count elements copied from src, or uninitialised if src is null.
  // Throws std::bad_array_new_length for count >= 0x40000000, adopting or
  // not.
  vector(int count, const T* src, int adopt);
  // The elements of src whose mask entry is non-zero, in a fresh block. An
  // empty mask selects everything; a mask shorter than src selects among the
  // first mask.elems() elements only. Moves the mask's cursor.
  vector(const vector& src, vector& mask);
  ~vector();

  // Lets go of the current block, then shares src's block and cursor.
  // Self-assignment changes nothing.
  vector& operator=(const vector& src);

  // Number of elements.
  QMDATA_INLINE int elems() const noexcept { return m_n; }
  // Hands ownership of the element array to the caller (free it with
  // delete[]); sharers keep using it and the library never frees it. Returns
  // null for an empty or adopted vector, or a block already unhooked.
  // Ignoring the result leaks the array.
  [[nodiscard]] T* unhook();
  QMDATA_INLINE static constexpr int GetVersion() noexcept { return 1; }

  // The elements as a standard contiguous range; null and 0 when empty.
  QMDATA_INLINE T* data() noexcept { return m_data; }
  QMDATA_INLINE const T* data() const noexcept { return m_data; }
  QMDATA_INLINE std::size_t size() const noexcept {
    return static_cast<std::size_t>(m_n);
  }
  QMDATA_INLINE T* begin() noexcept { return m_data; }
  QMDATA_INLINE const T* begin() const noexcept { return m_data; }
  QMDATA_INLINE T* end() noexcept { return m_data + m_n; }
  QMDATA_INLINE const T* end() const noexcept { return m_data + m_n; }

  // Element access. Indexes wrap modulo elems(); a negative index counts from
  // the end (-1 is the last element). Throws std::out_of_range when empty.
  T& operator[](int index) const;
  // The element at the cursor (reduced into range like operator[]).
  // Throws std::out_of_range when empty.
  T& operator*() const;
  // Cyclic cursor moves. Prefix forms return the element at the new cursor,
  // postfix forms the element at the old one; both return null when empty.
  T* operator++() const;
  T* operator++(int) const;
  T* operator--() const;
  T* operator--(int) const;
  QMDATA_INLINE int getIndex() const noexcept { return m_index; }
  // Cursor = index wrapped like operator[]; 0 when empty.
  void setIndex(int index) const;

  // Element-wise arithmetic over the common length, in place, wrapping in
  // 32-bit two's complement. Overlapping operands are processed in ascending
  // order one element at a time, each step seeing the earlier steps' writes.
  vector& operator+=(const vector& other);
  vector& operator+=(const rowcol<T>& view);
  vector& operator-=(const vector& other);
  vector& operator-=(const rowcol<T>& view);
  vector& operator^=(const vector& other);  // element-wise product
  vector& operator^=(const rowcol<T>& view);
  // Every element times factor, read anew for every element.
  vector& operator*=(const T& factor);
  // Every element times the integer quotient 1 / divisor: unchanged for 1,
  // negated for -1, zero otherwise. Throws std::domain_error for 0.
  vector& operator/=(const T& divisor);

  // Value forms: a deep copy of this vector with the compound rule applied.
  // Like the dot products, they are non-const members; for a const left
  // operand c, apply them to a sharing copy, QmMathLA::vector<int>(c), which
  // copies no element. The compiler shows a candidate's own line when the
  // call fails, so each line says so.
  // clang-format off
  [[nodiscard]] vector operator+(const vector& other);   // const c: QmMathLA::vector<int>(c) + b
  [[nodiscard]] vector operator+(const rowcol<T>& view);  // const c: QmMathLA::vector<int>(c) + b
  [[nodiscard]] vector operator-(const vector& other);   // const c: QmMathLA::vector<int>(c) - b
  [[nodiscard]] vector operator-(const rowcol<T>& view);  // const c: QmMathLA::vector<int>(c) - b
  [[nodiscard]] vector operator^(const vector& other);   // const c: QmMathLA::vector<int>(c) ^ b
  [[nodiscard]] vector operator^(const rowcol<T>& view);  // const c: QmMathLA::vector<int>(c) ^ b
  [[nodiscard]] vector operator*(const T& factor);       // const c: QmMathLA::vector<int>(c) * b
  [[nodiscard]] vector operator/(const T& divisor);      // const c: QmMathLA::vector<int>(c) / b
  // Row vector times the matrix (or its transpose when m_trans is non-zero).
  [[nodiscard]] vector operator*(const matrix<T>& m);    // const c: QmMathLA::vector<int>(c) * b
  // Dot products over the common length, wrapping.
  [[nodiscard]] T operator*(const vector& other);        // const c: QmMathLA::vector<int>(c) * b
  [[nodiscard]] T operator*(const rowcol<T>& view);      // const c: QmMathLA::vector<int>(c) * b
  // clang-format on

  // 1 when counts and elements are equal, else 0.
  [[nodiscard]] int operator==(const vector& other) const;
  [[nodiscard]] int operator!=(const vector& other) const;
  // Counts equal and every |a[i] - b[i]| (wrapped difference) <= tolerance;
  // without a tolerance, exactly equal.
  bool equals(vector& other) const;
  bool equals(vector& other, double tolerance) const;

  // Reductions, wrapping. The extremes report the first position of the
  // answer in index (0 when empty).
  T sum() const;
  T sumsq() const;
  // The square root of sumsq(), truncated; -2147483648 when the sum of
  // squares wrapped negative.
  T norm() const;
  // The square root of sumsq() / elems(), truncated, with the integer
  // division first: -2147483648 only when that quotient is negative (a
  // wrapped sum of -2 over 3 elements divides to 0 and gives 0); 0 when
  // empty.
  T rms() const;
  T maxabs(int& index) const;
  T maximum(int& index) const;
  T minimum(int& index) const;
  // Fills, written into the shared block.
  void constant(const T& value);
  void zero();
  // Subtracts the truncated integer mean from every element.
  void detrend();

  // Archive records (layouts in docs/FORMAT.md). Each stores when
  // ar.m_storing is non-zero and loads otherwise; every failure throws the
  // int -1, and QmLastRecordFailure (qmdata/failure.h) says why.
  //   Storing never changes the vector; after a failure the bytes already
  //   written stay in the stream.
  //   Loading gives this vector a block of its own (vectors that shared the
  //   old one keep it) and its cursor becomes 0. The elements are put in
  //   place only once all of them are in: any failure before then leaves
  //   the vector unchanged. A wrong end tag, read after the elements, throws
  //   -1 and the vector keeps them. A claimed count is trusted only as far
  //   as the input backs it, so a short or damaged record fails without a
  //   large allocation.
  // The plain record: every element as an int.
  void Serialize(QmRTArchive& ar);
  // The compressed record (the elements as one zlib stream) when compressed
  // is true; the plain record, exactly as Serialize(ar), when it is false. A
  // record loads only in the form it was stored in.
  void Serialize(QmRTArchive& ar, bool compressed);
  // Both are Serialize(ar, true): the archive, not the name, picks the
  // direction.
  void ZipIn(QmRTArchive& ar);
  void UnzipOut(QmRTArchive& ar);

  // One line: every element in a field of width, tab-separated, then a
  // newline; nothing at all for an empty vector. No stream setting changes.
  void print(std::ostream& os, int width) const;

 private:
  // Fills the fields of a vector that holds no block: empty for count <= 0,
  // else adoptinit when adopt is non-zero and src non-null, else allocinit.
  void commoninit(int count, T* src, int adopt);
  // The empty vector: all five fields zero.
  void nullinit();
  // Aliases the caller's array src of count > 0 elements.
  void adoptinit(int count, T* src);
  // A fresh owned block of count > 0 elements, copied from src or left
  // uninitialised when src is null; count 1, cursor 0.
  void allocinit(int count, const T* src);
  void popinstance();
  void getlock() const;
  void releaselock() const;
  // A vector that solely owns a fresh block of count elements copied from src
  // (or uninitialised when src is null), cursor 0; empty for count <= 0. The
  // value-returning operators build their result in it and return it, so the
  // returned vector is the block's sole owner.
  static vector fresh(int count, const T* src);
  // Shares src's block into this vector, whose fields hold no block.
  void sharefrom(const vector& src);

  // The vector is in exactly one of four states:
  //   empty:    all five fields zero (zero-filled storage is a valid empty
  //             vector);
  //   owned:    m_refs points at a count c >= 1, the number of sharers; the
  //             last sharer frees the elements, the count and the lock word;
  //   unhooked: c <= -1 after unhook(); |c| sharers; the last frees the count
  //             and the lock word but not the elements, which the caller of
  //             unhook() owns;
  //   adopted:  m_refs and m_lock null, m_data the caller's array, m_n > 0;
  //             never counted, locked or freed.
  // m_n > 0 exactly when m_data is non-null, and m_n < 0x40000000. Sharers
  // hold identical m_n, m_data, m_refs and m_lock; each has its own cursor.
  // *m_lock is 0 when free, else the owning thread's id; it guards *m_refs
  // and nothing else (never the elements). It is only accessed atomically.
  int m_n;
  T* m_data;
  mutable int m_index;  // the cursor; belongs to this object, never shared
  int* m_refs;
  int* m_lock;
};

extern template class QMDATA_TEMPLATE_INSTANCE vector<int>;

// A vector has no stream or archive operators: it prints with print() and
// is stored and loaded by its record members. The deleted operators below
// make those mistakes fail on the line that names the call to write
// instead, which the compiler shows with its "declared here" note, rather
// than with a page of non-viable candidates.
//
// Argument lookup finds them for a vector only, through this namespace. A
// vector reaches their parameter only by a user-defined conversion, the
// worst match there is, so they are chosen only where no other operator is
// viable: a program's own operators for vectors, generic ones included,
// still win, and a test for the operator (a requires-expression, a stream
// printer's check) still finds none. They are neither defined nor exported.
namespace detail {
struct misused_vector {
  // Converting on purpose: that conversion is what ranks the operators last.
  template <typename T>
  // cppcheck-suppress noExplicitConstructor
  misused_vector(const vector<T>&) {}
};
}  // namespace detail

// clang-format off
std::ostream& operator<<(std::ostream&, detail::misused_vector) = delete;  // print with v.print(std::cout, width)
QmRTArchive& operator<<(QmRTArchive&, detail::misused_vector) = delete;  // store with v.Serialize(ar) (plain), v.ZipIn(ar) (compressed)
QmRTArchive& operator>>(QmRTArchive&, detail::misused_vector) = delete;  // load with v.Serialize(ar) (plain), v.UnzipOut(ar) (compressed)
// clang-format on

}  // namespace QmMathLA

#endif  // QMDATA_MATHLA_VECTOR_H_
