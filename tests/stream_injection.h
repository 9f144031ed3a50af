// SPDX-License-Identifier: MIT
// Test support: stream buffers that fail at a chosen byte and deliver data in
// small pieces. Neither allocates once constructed, so they can stand under an
// archive while allocations are being made to fail. And, where there are
// POSIX pipes and libstdc++, a pipe read as std::cin reads one.

#ifndef QMDATA_TESTS_STREAM_INJECTION_H_
#define QMDATA_TESTS_STREAM_INJECTION_H_

#include <cstddef>
#include <initializer_list>
#include <streambuf>
#include <string>

// Accepts exactly `limit` bytes, then fails every write; with sync_fails,
// fails every sync (a flush to a full device) as well.
class LimitedSink : public std::streambuf {
 public:
  explicit LimitedSink(std::size_t limit, bool sync_fails = false)
      : buf_(limit, '\0'), sync_fails_(sync_fails) {
    setp(buf_.data(), buf_.data() + buf_.size());
  }
  std::string written() const {
    return std::string(pbase(), static_cast<std::size_t>(pptr() - pbase()));
  }

 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  int sync() override { return sync_fails_ ? -1 : 0; }

 private:
  std::string buf_;
  bool sync_fails_;
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

#if defined(__unix__) && defined(__GLIBCXX__)
#define QMDATA_TEST_HAVE_PIPES 1
#include <chrono>
#include <cstdio>
#include <istream>
#include <memory>
#include <thread>

#include <ext/stdio_filebuf.h>
#include <ext/stdio_sync_filebuf.h>
#include <unistd.h>

// `data` (less than a pipe holds) written into an OS pipe by a thread,
// which pauses before byte `pause_at`, and read as std::cin reads it: a byte
// at a time through C stdio (synced, the default sync_with_stdio(true)), or
// through a buffer of the stream's own (after sync_with_stdio(false)).
class PipeFeed {
 public:
  PipeFeed(const std::string& data, bool synced, std::size_t pause_at) {
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0) return;
    writer_ = std::thread([&data, fd = fds[1], pause_at] {
      const std::size_t first = pause_at < data.size() ? pause_at : 0;
      if (::write(fd, data.data(), first) > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (::write(fd, data.data() + first, data.size() - first) < 0) {
      }
      ::close(fd);
    });
    file_ = ::fdopen(fds[0], "rb");
    if (synced) {
      buf_ = std::make_unique<__gnu_cxx::stdio_sync_filebuf<char>>(file_);
    } else {
      buf_ =
          std::make_unique<__gnu_cxx::stdio_filebuf<char>>(file_, std::ios::in);
    }
    is_.rdbuf(buf_.get());
  }
  ~PipeFeed() {
    writer_.join();  // the data fits the pipe: the writer never blocks
    buf_.reset();
    if (file_ != nullptr) std::fclose(file_);
  }
  std::istream& stream() { return is_; }

 private:
  std::thread writer_;
  std::FILE* file_ = nullptr;
  std::unique_ptr<std::streambuf> buf_;
  std::istream is_{nullptr};
};
#endif

#endif  // QMDATA_TESTS_STREAM_INJECTION_H_
