// SPDX-License-Identifier: MIT
// The records' conformance check against an archive library: first each
// member of QmRTArchive and CZLibCompression that the records call, on its
// own, as the records rely on it; then every record's round trips and
// failures through qmdata built against that library. One line per check,
// "ok" or "FAILED" with the member or record it concerns, then
// "N passed, M failed"; exits non-zero on any failure.
//
// The members are known to exist: configuring the check probed each one
// (CMakeLists.txt). This program constructs archives as
// QmRTArchive(std::ostream&) to store and QmRTArchive(std::istream&) to
// load, which the records themselves never do.

#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "qmdata/failure.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

#include "record_data.h"
#include "vector_support.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
  (ok ? g_passed : g_failed)++;
  std::printf("%-7s %s\n", ok ? "ok" : "FAILED", what.c_str());
}

// True when f throws anything.
template <typename F>
bool Throws(F&& f) {
  return OutcomeOf(f) != 0;
}

// Items written by store(ar) read back by load(ar) from the same bytes.
template <typename S, typename L>
bool RoundTrip(S store, L load) {
  try {
    std::ostringstream os;
    QmRTArchive out(os);
    store(out);
    std::istringstream is(os.str());
    QmRTArchive in(is);
    return load(in);
  } catch (...) {
    return false;
  }
}

void CheckArchiveMembers() {
  std::printf("archive members, one at a time:\n");
  std::ostringstream os;
  std::istringstream is;
  Check(QmRTArchive(os).m_storing != 0 && QmRTArchive(is).m_storing == 0,
        "m_storing: non-zero while storing, 0 while loading");

  const std::vector<int> ints = {0, 1, -1, 13, INT_MIN, INT_MAX};
  Check(RoundTrip([&](QmRTArchive& ar) { for (int v : ints) ar << v; },
                  [&](QmRTArchive& ar) {
                    for (int v : ints) {
                      int got = 0;
                      ar >> got;
                      if (got != v) return false;
                    }
                    return true;
                  }),
        "operator<<(int), operator>>(int&): 0, 1, -1, 13, INT_MIN, INT_MAX");
  const std::vector<unsigned long> lengths = {0, 1, 4096, 0xFFFFFFFFul};
  Check(RoundTrip([&](QmRTArchive& ar) { for (auto v : lengths) ar << v; },
                  [&](QmRTArchive& ar) {
                    for (auto v : lengths) {
                      unsigned long got = 7;
                      ar >> got;
                      if (got != v) return false;
                    }
                    return true;
                  }),
        "operator<<(unsigned long), operator>>(unsigned long&): 0 to 2^32-1");

  // The records read a tag into 20 bytes with the limit 19; the bytes after
  // those 20 must stay untouched.
  constexpr int kGuard = 16;
  auto read_tag = [](QmRTArchive& ar, char (&buf)[20 + kGuard]) {
    std::memset(buf, 'Z', sizeof buf);
    ar.ReadString(buf, 19);
    return std::memchr(buf, '\0', 20) != nullptr &&
           std::string(buf + 20, kGuard) == std::string(kGuard, 'Z');
  };
  Check(RoundTrip(
            [](QmRTArchive& ar) {
              ar.WriteString("<StartVector>");
              ar.WriteString("");
              ar.WriteString("<EndVector>");
            },
            [&](QmRTArchive& ar) {
              char buf[20 + kGuard];
              bool ok = read_tag(ar, buf) && std::string(buf) == "<StartVector>";
              ok = ok && read_tag(ar, buf) && buf[0] == '\0';
              return ok && read_tag(ar, buf) && std::string(buf) == "<EndVector>";
            }),
        "WriteString, ReadString(buf, 19): tags and the empty string");
  bool bounded = true;
  {
    std::ostringstream long_os;
    QmRTArchive out(long_os);
    out.WriteString("<a string of thirty-one bytes>!");
    std::istringstream long_is(long_os.str());
    QmRTArchive in(long_is);
    char buf[20 + kGuard];
    try {
      bounded = read_tag(in, buf) && std::strlen(buf) <= 19;
    } catch (...) {  // refusing the string is as good
    }
  }
  Check(bounded,
        "ReadString(buf, 19) of a longer string: at most 19 characters and "
        "a NUL in the 20 bytes, or a throw");

  std::string block(1000, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7);
  Check(RoundTrip([&](QmRTArchive& ar) {
                    ar.Write(block.data(), static_cast<unsigned>(block.size()));
                    ar << 5;
                  },
                  [&](QmRTArchive& ar) {
                    std::string got(block.size(), '\0');
                    ar.Read(got.data(), static_cast<unsigned>(got.size()));
                    int after = 0;
                    ar >> after;
                    return got == block && after == 5;
                  }),
        "Write(p, n), Read(p, n): a block of 1000 bytes, then an int");

  auto empty_load = [](auto read) {
    return Throws([&] {
      std::istringstream none;
      QmRTArchive ar(none);
      read(ar);
    });
  };
  Check(empty_load([](QmRTArchive& ar) { int v; ar >> v; }) &&
            empty_load([](QmRTArchive& ar) { unsigned long v; ar >> v; }) &&
            empty_load([](QmRTArchive& ar) {
              char buf[20];
              ar.ReadString(buf, 19);
            }),
        "operator>>(int&), operator>>(unsigned long&), ReadString: throw when "
        "the data has ended");
  const bool read_throws = empty_load([](QmRTArchive& ar) {
    char buf[8];
    ar.Read(buf, 8);
  });
  std::printf("note    Read(p, 8) when the data has ended: %s (either is "
              "allowed; the records then fail in Decompress)\n",
              read_throws ? "throws" : "returns");
  Check(Throws([] {
          std::ostream refusing(nullptr);  // every write fails
          QmRTArchive ar(refusing);
          ar << 1;
          ar.WriteString("<EndVector>");
        }),
        "operator<<(int), WriteString: throw when the stream refuses them");

  // The compressor: the records call Compress even for an empty vector, and
  // read only what Decompress hands out, never freeing it.
  {
    CZLibCompression z;
    unsigned long n = 0;
    void* out = nullptr;
    static const int kNothing = 0;
    Check(z.Compress(&kNothing, 0, n, &out) && out != nullptr,
          "Compress(p, 0, ...): true with a block, for an empty vector");
  }
  const std::string raw = std::string(2048, 'a') + block + block;
  std::string packed;
  {
    CZLibCompression z;
    unsigned long n = 0;
    void* out = nullptr;
    const bool ok = z.Compress(raw.data(), raw.size(), n, &out) && out && n > 0;
    if (ok) packed.assign(static_cast<const char*>(out), n);
    Check(ok, "Compress: true, a block and its length for 4048 bytes");
  }
  auto decompress = [&](const std::string& in, unsigned long raw_len) {
    try {
      std::string copy = in;  // Decompress takes a writable block
      CZLibCompression z;
      void* out = nullptr;
      if (!z.Decompress(copy.data(), copy.size(), raw_len, &out) || !out) return std::string("refused");
      return std::string(static_cast<const char*>(out), raw_len);
    } catch (...) {
      return std::string("refused");
    }
  };
  Check(!packed.empty() && decompress(packed, raw.size()) == raw,
        "Decompress: the block back to its 4048 bytes");
  Check(packed.empty() || (decompress(packed, raw.size() + 4) == "refused" &&
                           decompress(packed, raw.size() - 4) == "refused"),
        "Decompress: false (or a throw) when the raw length is not the "
        "block's");
  Check(decompress(std::string(64, '\x5b'), 4096) == "refused",
        "Decompress: false (or a throw) for a block it did not make");
}

void CheckRecords() {
  std::printf("records through qmdata built against this archive:\n");
  for (int n : {0, 3, 1 << 20}) {
    const std::vector<int> e = Pattern(n > 3 ? 0 : 2, n);
    Vec v(n, e.data(), 0);
    for (bool compressed : {false, true}) {
      const std::string what = std::string("vector record, ") +
                               (compressed ? "compressed, " : "plain, ") +
                               std::to_string(n) + " elements";
      std::string bytes;
      Check(OutcomeOf([&] { bytes = Serialized(v, compressed); }) == 0 &&
                [&] {
                  std::istringstream is(bytes);
                  QmRTArchive in(is);
                  Vec back(2, nullptr, 0);
                  back.Serialize(in, compressed);
                  return Elements(back) == e;
                }(),
            what + ": round trip");
      std::istringstream is(bytes.substr(0, bytes.size() / 2));
      QmRTArchive in(is);
      Vec cut(1, nullptr, 0);
      Check(OutcomeOf([&] { cut.Serialize(in, compressed); }) == -1 &&
                cut.elems() == 1 &&
                std::string(QmLastRecordFailure().record) == "vector record" &&
                QmLastRecordFailure().offset == -1,
            what + ": cut in half, throws -1, keeps the vector, says why "
                   "(offset -1)");
    }
  }
  std::string plain;
  std::string packed;
  Vec three = Make({4, 5, 6});
  Check(OutcomeOf([&] {
          plain = Serialized(three, false);
          packed = Serialized(three, true);
        }) == 0 &&
            [&] {
              std::istringstream is(plain);
              QmRTArchive in(is);
              Vec back;
              return OutcomeOf([&] { back.Serialize(in, true); }) == -1 &&
                     back.elems() == 0;
            }(),
        "vector record: a plain record loaded as compressed throws -1");

  int vars[] = {2, 7, 11};
  const QmDataSlice slice(Vec(3, vars, 0), 5, 10);
  const QmDataRange range(-3, 8);
  std::string bytes;
  Check(OutcomeOf([&] {
          std::ostringstream os;
          QmRTArchive out(os);
          out << slice << range << qmo_qual_good << qmo_qual_bad;
          bytes = os.str();
        }) == 0 &&
            [&] {
              QmDataSlice s;
              QmDataRange r;
              qmo_qualtag good = qmo_qual_bad, bad = qmo_qual_good;
              std::istringstream is(bytes);
              QmRTArchive in(is);
              in >> s >> r >> good >> bad;
              return s == slice && r == range && good == qmo_qual_good &&
                     bad == qmo_qual_bad;
            }(),
        "slice, range and quality-tag records: round trip");
  for (std::size_t cut : {std::size_t{3}, bytes.size() - 3}) {
    std::istringstream is(bytes.substr(0, cut));
    QmRTArchive in(is);
    QmDataSlice s;
    QmDataRange r;
    qmo_qualtag good = qmo_qual_bad, bad = qmo_qual_bad;
    const bool refused = OutcomeOf([&] { in >> s >> r >> good >> bad; }) == -1;
    Check(refused && QmLastRecordFailure().offset == -1,
          "the same records cut after " + std::to_string(cut) +
              " bytes: throws -1 (" + QmLastRecordFailure().record + ")");
  }
}

}  // namespace

int main() {
  CheckArchiveMembers();
  CheckRecords();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
