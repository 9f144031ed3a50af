// SPDX-License-Identifier: MIT
// The vector's archive records against their peers, all through a
// std::stringstream: plain records against cereal's binary archive of a
// std::vector<int> and one ostream::write / istream::read of the block;
// compressed records against zlib and libdeflate called directly at level 6,
// each writing a fresh output block as the record must. The archive's
// per-int operators are measured against a loop of 4-byte sputn/sgetn calls
// (what the int path would be without the stream buffer's area pointers).
//
// Arguments: element count, then (compressed only) the value pattern of
// Pattern() in tests/record_data.h; plain runs take uniformly random values.

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <cereal/archives/binary.hpp>
#include <cereal/types/vector.hpp>
#include <libdeflate.h>
#include <zlib.h>

#include "mathla/vector.h"
#include "rtarchive/archive.h"

#include "record_data.h"
#include "vector_support.h"

namespace {

// The elements of a plain run (uniformly random) and of a compressed one.
std::vector<int> Uniform(const benchmark::State& state) {
  return Pattern(2, static_cast<int>(state.range(0)));
}

std::vector<int> Patterned(const benchmark::State& state) {
  return Pattern(static_cast<int>(state.range(1)),
                 static_cast<int>(state.range(0)));
}

const char* Bytes(const std::vector<int>& e) {
  return reinterpret_cast<const char*>(e.data());
}

// Throughput in the elements' bytes; ratio is those bytes per packed byte.
void Count(benchmark::State& state, const std::vector<int>& e,
           std::size_t packed = 0) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(e.size() * 4));
  if (packed) {
    state.counters["ratio"] =
        static_cast<double>(e.size() * 4) / static_cast<double>(packed);
  }
}

// Stores into one string stream, rewound before every iteration; a body
// takes it as a std::ostream, or as itself where the peer needs its buffer.
template <class F>
void Stores(benchmark::State& state, const std::vector<int>& e, F store) {
  std::stringstream ss;
  for (auto _ : state) {
    ss.seekp(0);
    store(ss);
    benchmark::ClobberMemory();
  }
  Count(state, e);
}

// Loads from ss, rewound before every iteration.
template <class F>
void Loads(benchmark::State& state, const std::vector<int>& e,
           std::stringstream& ss, F load) {
  for (auto _ : state) {
    ss.seekg(0);
    load(ss);
  }
  Count(state, e);
}

// --- plain record ------------------------------------------------------------

void BM_PlainStore(benchmark::State& state) {
  const auto e = Uniform(state);
  Vec v = Make(e);
  Stores(state, e, [&](std::ostream& os) {
    QmRTArchive ar(os);
    v.Serialize(ar);
  });
}

void BM_PlainStoreSputnLoop(benchmark::State& state) {
  const auto e = Uniform(state);
  Stores(state, e, [&](std::stringstream& ss) {
    std::streambuf* buf = ss.rdbuf();
    for (int x : e) buf->sputn(reinterpret_cast<const char*>(&x), 4);
  });
}

void BM_PlainStoreCereal(benchmark::State& state) {
  const auto e = Uniform(state);
  Stores(state, e, [&](std::ostream& os) {
    cereal::BinaryOutputArchive ar(os);
    ar(e);
  });
}

void BM_PlainStoreWrite(benchmark::State& state) {
  const auto e = Uniform(state);
  Stores(state, e, [&](std::ostream& os) {
    os.write(Bytes(e), static_cast<std::streamsize>(e.size() * 4));
  });
}

// The archive's operator<< once per int.
void BM_IntOperatorStore(benchmark::State& state) {
  const auto e = Uniform(state);
  Stores(state, e, [&](std::ostream& os) {
    QmRTArchive ar(os);
    for (int x : e) ar << x;
  });
}

void BM_PlainLoad(benchmark::State& state) {
  const auto e = Uniform(state);
  std::stringstream ss(Record(e, false));
  Vec v;
  Loads(state, e, ss, [&](std::istream& is) {
    QmRTArchive ar(is);
    v.Serialize(ar);
    benchmark::DoNotOptimize(v[0]);
  });
}

void BM_PlainLoadSgetnLoop(benchmark::State& state) {
  const auto e = Uniform(state);
  std::stringstream ss(Record(e, false));
  std::vector<int> out(e.size());
  Loads(state, e, ss, [&](std::istream&) {
    std::streambuf* buf = ss.rdbuf();
    for (int& x : out) buf->sgetn(reinterpret_cast<char*>(&x), 4);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  });
}

void BM_PlainLoadCereal(benchmark::State& state) {
  const auto e = Uniform(state);
  std::stringstream src;
  {
    cereal::BinaryOutputArchive ar(src);
    ar(e);
  }
  std::stringstream ss(src.str());
  Loads(state, e, ss, [&](std::istream& is) {
    cereal::BinaryInputArchive ar(is);
    std::vector<int> out;  // a fresh block, as the record makes one
    ar(out);
    benchmark::DoNotOptimize(out.data());
  });
}

void BM_PlainLoadRead(benchmark::State& state) {
  const auto e = Uniform(state);
  std::stringstream ss(std::string(Bytes(e), e.size() * 4));
  Loads(state, e, ss, [&](std::istream& is) {
    std::unique_ptr<int[]> out(new int[e.size()]);
    is.read(reinterpret_cast<char*>(out.get()),
            static_cast<std::streamsize>(e.size() * 4));
    benchmark::DoNotOptimize(out.get());
  });
}

// The archive's operator>> once per int.
void BM_IntOperatorLoad(benchmark::State& state) {
  const auto e = Uniform(state);
  std::stringstream ss(Record(e, false));
  std::vector<int> out(e.size());
  Loads(state, e, ss, [&](std::istream& is) {
    QmRTArchive ar(is);
    for (int& x : out) ar >> x;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  });
}

// --- compressed record -------------------------------------------------------

void BM_ZipStore(benchmark::State& state) {
  const auto e = Patterned(state);
  Vec v = Make(e);
  Stores(state, e, [&](std::ostream& os) {
    QmRTArchive ar(os);
    v.Serialize(ar, true);
  });
  // Less the framing: the tags (17 + 15 bytes) and four ints.
  Count(state, e, Serialized(v, true).size() - 17 - 16 - 15);
}

void BM_ZlibCompress2(benchmark::State& state) {
  const auto e = Patterned(state);
  std::vector<Bytef> out(compressBound(e.size() * 4));
  uLongf n = 0;
  for (auto _ : state) {
    n = out.size();
    compress2(out.data(), &n, reinterpret_cast<const Bytef*>(e.data()),
              e.size() * 4, 6);
    benchmark::DoNotOptimize(out.data());
  }
  Count(state, e, n);
}

void BM_LibdeflateCompress(benchmark::State& state) {
  const auto e = Patterned(state);
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  const std::size_t bound = libdeflate_zlib_compress_bound(c, e.size() * 4);
  std::size_t n = 0;
  for (auto _ : state) {
    std::unique_ptr<char[]> out(new char[bound]);
    n = libdeflate_zlib_compress(c, e.data(), e.size() * 4, out.get(), bound);
    benchmark::DoNotOptimize(out.get());
  }
  libdeflate_free_compressor(c);
  Count(state, e, n);
}

void BM_ZipLoad(benchmark::State& state) {
  const auto e = Patterned(state);
  std::stringstream ss(Record(e, true));
  Vec v;
  Loads(state, e, ss, [&](std::istream& is) {
    QmRTArchive ar(is);
    v.Serialize(ar, true);
    benchmark::DoNotOptimize(v[0]);
  });
}

void BM_ZlibUncompress(benchmark::State& state) {
  const auto e = Patterned(state);
  std::vector<Bytef> packed(compressBound(e.size() * 4));
  uLongf packed_len = packed.size();
  compress2(packed.data(), &packed_len,
            reinterpret_cast<const Bytef*>(e.data()), e.size() * 4, 6);
  std::vector<int> out(e.size());
  for (auto _ : state) {
    uLongf n = e.size() * 4;
    uncompress(reinterpret_cast<Bytef*>(out.data()), &n, packed.data(),
               packed_len);
    benchmark::DoNotOptimize(out.data());
  }
  Count(state, e);
}

void BM_LibdeflateDecompress(benchmark::State& state) {
  const auto e = Patterned(state);
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  std::vector<char> packed(libdeflate_zlib_compress_bound(c, e.size() * 4));
  const std::size_t packed_len = libdeflate_zlib_compress(
      c, e.data(), e.size() * 4, packed.data(), packed.size());
  libdeflate_free_compressor(c);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  for (auto _ : state) {
    std::unique_ptr<int[]> out(new int[e.size()]);
    libdeflate_zlib_decompress(d, packed.data(), packed_len, out.get(),
                               e.size() * 4, nullptr);
    benchmark::DoNotOptimize(out.get());
  }
  libdeflate_free_decompressor(d);
  Count(state, e);
}

void PlainArgs(benchmark::internal::Benchmark* b) {
  b->Arg(1 << 10)->Arg(1 << 20);
}

void ZipArgs(benchmark::internal::Benchmark* b) {
  for (int n : {1 << 10, 1 << 20}) {
    for (int pattern = 0; pattern < 3; ++pattern) b->Args({n, pattern});
  }
}

BENCHMARK(BM_PlainStore)->Apply(PlainArgs);
BENCHMARK(BM_PlainStoreSputnLoop)->Apply(PlainArgs);
BENCHMARK(BM_PlainStoreCereal)->Apply(PlainArgs);
BENCHMARK(BM_PlainStoreWrite)->Apply(PlainArgs);
BENCHMARK(BM_IntOperatorStore)->Apply(PlainArgs);
BENCHMARK(BM_PlainLoad)->Apply(PlainArgs);
BENCHMARK(BM_PlainLoadSgetnLoop)->Apply(PlainArgs);
BENCHMARK(BM_PlainLoadCereal)->Apply(PlainArgs);
BENCHMARK(BM_PlainLoadRead)->Apply(PlainArgs);
BENCHMARK(BM_IntOperatorLoad)->Apply(PlainArgs);
BENCHMARK(BM_ZipStore)->Apply(ZipArgs);
BENCHMARK(BM_ZlibCompress2)->Apply(ZipArgs);
BENCHMARK(BM_LibdeflateCompress)->Apply(ZipArgs);
BENCHMARK(BM_ZipLoad)->Apply(ZipArgs);
BENCHMARK(BM_ZlibUncompress)->Apply(ZipArgs);
BENCHMARK(BM_LibdeflateDecompress)->Apply(ZipArgs);

}  // namespace

BENCHMARK_MAIN();
