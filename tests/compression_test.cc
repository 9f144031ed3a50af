// SPDX-License-Identifier: MIT
#include "rtarchive/compression.h"

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#ifdef QMDATA_TEST_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "alloc_tracker.h"
#include "record_data.h"

namespace {

std::vector<unsigned char> Sample(std::size_t n, int kind) {
  std::vector<unsigned char> v(n);
  std::mt19937 rng(7);
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = kind == 0 ? static_cast<unsigned char>(i % 7)
                     : static_cast<unsigned char>(rng());
  }
  return v;
}

// Decompress's output as bytes; "!" when it fails.
std::string OursDecompress(const void* in, std::size_t n, std::size_t raw_len) {
  CZLibCompression z;
  void* out = nullptr;
  if (!z.Decompress(const_cast<void*>(in), n, raw_len, &out)) return "!";
  return std::string(static_cast<const char*>(out), raw_len);
}

std::string Bytes(const std::vector<unsigned char>& v) {
  return std::string(v.begin(), v.end());
}

TEST(ZlibCompression, RoundTripsAndReportsBackend) {
  EXPECT_STREQ(CZLibCompression::Backend(), QMDATA_BACKEND_NAME);
  for (std::size_t n : {0u, 1u, 100u, 70000u, 1u << 20}) {
    for (int kind = 0; kind < 2; ++kind) {
      const auto raw = Sample(n, kind);
      CZLibCompression z;
      unsigned long packed_len = 0;
      void* packed = nullptr;
      ASSERT_TRUE(z.Compress(raw.data(), raw.size(), packed_len, &packed));
      ASSERT_NE(packed, nullptr);
      EXPECT_GE(packed_len, 6u);  // header and checksum at least
      EXPECT_EQ(static_cast<unsigned char*>(packed)[0], 0x78);
      void* out = nullptr;
      ASSERT_TRUE(z.Decompress(packed, packed_len, n, &out)) << n;
      ASSERT_NE(out, nullptr);
      EXPECT_TRUE(n == 0 || std::memcmp(out, raw.data(), n) == 0);
    }
  }
}

TEST(ZlibCompression, RefusesWrongLengthsAndDamage) {
  const auto raw = Sample(5000, 1);
  const std::string packed = Packed(Bytes(raw));
  std::string buf = packed;
  CZLibCompression z;
  void* out = nullptr;
  // Shorter and longer raw lengths than the stream holds.
  EXPECT_FALSE(z.Decompress(buf.data(), buf.size(), 4999, &out));
  EXPECT_FALSE(z.Decompress(buf.data(), buf.size(), 5001, &out));
  EXPECT_EQ(out, nullptr);  // untouched by every failure
  // Truncated at every length, and with bytes after the stream.
  for (std::size_t cut = 0; cut < buf.size(); cut += 1 + cut / 16) {
    EXPECT_EQ(OursDecompress(buf.data(), cut, 5000), "!") << cut;
  }
  std::string longer = packed + "x";
  EXPECT_EQ(OursDecompress(longer.data(), longer.size(), 5000), "!");
  // A damaged checksum, a damaged header.
  buf.back() ^= 1;
  EXPECT_EQ(OursDecompress(buf.data(), buf.size(), 5000), "!");
  buf = packed;
  buf[0] = 0x79;
  EXPECT_EQ(OursDecompress(buf.data(), buf.size(), 5000), "!");
  // A raw length that no stream of this size can produce is refused before
  // any output block is allocated.
  EXPECT_FALSE(z.Decompress(buf.data(), 10, ~0ul, &out));
  EXPECT_FALSE(z.Decompress(buf.data(), 0, 0, &out));
  EXPECT_EQ(out, nullptr);
  // Before anything: a fresh compressor makes its bookkeeping, which the
  // tracker sees, on the way to the block, which it does not.
  CZLibCompression fresh;
  const alloc_tracker::Scope scope;
  EXPECT_FALSE(fresh.Decompress(buf.data(), 10, 10 * 1032 + 65, &out));
  if (kAllocationsTracked) EXPECT_EQ(scope.allocated(), 0);
}

TEST(ZlibCompression, HighlyRepetitiveInputStaysWithinExpansionBound) {
  // All zeros compresses near deflate's maximum ratio and must still load.
  const std::string zeros(8u << 20, '\0');
  const std::string packed = Packed(zeros);
  EXPECT_LE(zeros.size(), packed.size() * 1032 + 64);
  EXPECT_EQ(OursDecompress(packed.data(), packed.size(), zeros.size()), zeros);
}

TEST(ZlibCompression, ZlibAndOursReadEachOther) {
  for (int kind = 0; kind < 2; ++kind) {
    const auto raw = Sample(300000, kind);
    // Ours -> zlib.
    const std::string packed = Packed(Bytes(raw));
    std::vector<unsigned char> out(raw.size());
    uLongf out_len = out.size();
    ASSERT_EQ(uncompress(out.data(), &out_len,
                         reinterpret_cast<const Bytef*>(packed.data()),
                         packed.size()),
              Z_OK);
    EXPECT_EQ(out_len, raw.size());
    EXPECT_EQ(out, raw);
    // zlib -> ours.
    std::vector<unsigned char> zpacked(compressBound(raw.size()));
    uLongf zlen = zpacked.size();
    ASSERT_EQ(compress2(zpacked.data(), &zlen, raw.data(), raw.size(), 6),
              Z_OK);
    EXPECT_EQ(OursDecompress(zpacked.data(), zlen, raw.size()), Bytes(raw));
  }
}

TEST(ZlibCompression, ObjectsOnSeveralThreads) {
  // Each thread makes and drops many objects, as the vector records do.
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      const auto raw = Sample(3000 + 100 * t, t % 2);
      for (int i = 0; i < 50; ++i) {
        CZLibCompression z;
        unsigned long n = 0;
        void* packed = nullptr;
        void* back = nullptr;
        if (!z.Compress(raw.data(), raw.size(), n, &packed) ||
            !z.Decompress(packed, n, raw.size(), &back) ||
            std::memcmp(back, raw.data(), raw.size()) != 0) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

#ifdef QMDATA_TEST_HAVE_LIBDEFLATE
TEST(ZlibCompression, LibdeflateAndOursReadEachOther) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ASSERT_NE(c, nullptr);
  ASSERT_NE(d, nullptr);
  for (int kind = 0; kind < 2; ++kind) {
    const auto raw = Sample(300000, kind);
    // Ours -> libdeflate.
    const std::string packed = Packed(Bytes(raw));
    std::vector<unsigned char> out(raw.size());
    EXPECT_EQ(libdeflate_zlib_decompress(d, packed.data(), packed.size(),
                                         out.data(), out.size(), nullptr),
              LIBDEFLATE_SUCCESS);
    EXPECT_EQ(out, raw);
    // libdeflate -> ours.
    std::vector<unsigned char> lpacked(
        libdeflate_zlib_compress_bound(c, raw.size()));
    const std::size_t llen = libdeflate_zlib_compress(
        c, raw.data(), raw.size(), lpacked.data(), lpacked.size());
    ASSERT_GT(llen, 0u);
    EXPECT_EQ(OursDecompress(lpacked.data(), llen, raw.size()), Bytes(raw));
  }
  libdeflate_free_compressor(c);
  libdeflate_free_decompressor(d);
}
#endif

}  // namespace
