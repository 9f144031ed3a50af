// SPDX-License-Identifier: MIT
// Test support: stream buffers that fail at a chosen byte and deliver data in
// small pieces. Neither allocates once constructed, so they can stand under an
// archive while allocations are being made to fail.

#ifndef QMDATA_TESTS_STREAM_INJECTION_H_
#define QMDATA_TESTS_STREAM_INJECTION_H_

#include <cstddef>
#include <initializer_list>
#include <streambuf>
#include <string>

// Accepts exactly `limit` bytes, then fails every write.
class LimitedSink : public std::streambuf {
 public:
  explicit LimitedSink(std::size_t limit) : buf_(limit, '\0') {
    setp(buf_.data(), buf_.data() + buf_.size());
  }
  std::string written() const {
    return std::string(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  }

 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }

 private:
  std::string buf_;
};

// Delivers the first `limit` bytes of `data` in pieces whose sizes cycle
// through `pieces` (a piece of 0 means "everything left"), then reports the
// end. consumed() is how far the reader has read.
class PieceSource : public std::streambuf {
 public:
  PieceSource(const std::string& data, std::size_t limit,
              std::initializer_list<std::size_t> pieces = {0})
      : data_(data), end_(limit < data.size() ? limit : data.size()) {
    for (std::size_t p : pieces) {
      if (count_ < kMaxPieces) pieces_[count_++] = p;
    }
    char* b = const_cast<char*>(data_.data());
    setg(b, b, b);
  }
  std::size_t consumed() const {
    return static_cast<std::size_t>(gptr() - eback());
  }

 protected:
  int_type underflow() override {
    const std::size_t at = consumed();
    if (at >= end_) return traits_type::eof();
    std::size_t piece = pieces_[next_++ % count_];
    if (piece == 0 || piece > end_ - at) piece = end_ - at;
    char* b = const_cast<char*>(data_.data());
    setg(b, b + at, b + at + piece);
    return traits_type::to_int_type(b[at]);
  }

 private:
  static constexpr std::size_t kMaxPieces = 4;
  const std::string& data_;
  std::size_t end_;
  std::size_t pieces_[kMaxPieces] = {};
  std::size_t count_ = 0;
  std::size_t next_ = 0;
};

#endif  // QMDATA_TESTS_STREAM_INJECTION_H_
