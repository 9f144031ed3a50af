// SPDX-License-Identifier: MIT
// Uses each public header of an installed qmdata once, and catches, by type,
// each kind of exception the library throws into its caller (on Windows these
// cross the DLL boundary).
#include <iostream>
#include <new>
#include <sstream>
#include <stdexcept>

#include "drange/dataslice.h"
#include "drange/qualtag.h"
#include "mathla/vector.h"
#include "rtarchive/archive.h"
#include "rtarchive/compression.h"

namespace {

// True when f throws an E that ok accepts; says what happened otherwise.
template <typename E, typename F, typename Ok>
bool Throws(const char* what, F f, Ok ok) {
  try {
    f();
  } catch (const E& e) {
    if (ok(e)) return true;
    std::cerr << what << ": unexpected value\n";
    return false;
  } catch (...) {
    std::cerr << what << ": another exception\n";
    return false;
  }
  std::cerr << what << ": nothing thrown\n";
  return false;
}

template <typename E, typename F>
bool Throws(const char* what, F f) {
  return Throws<E>(what, f, [](const E&) { return true; });
}

}  // namespace

int main() {
  int vars[] = {2, 7, 11};
  QmDataSlice slice(QmMathLA::vector<int>(3, vars, 0), 5, 10);
  qmo_qualtag tag = qmo_qual_good;
  std::stringstream bytes;
  {
    QmRTArchive out(static_cast<std::ostream&>(bytes));
    out << slice << tag;
  }
  const std::string stored = bytes.str();
  QmDataSlice loaded;
  qmo_qualtag loaded_tag = qmo_qual_bad;
  QmRTArchive in(static_cast<std::istream&>(bytes));
  in >> loaded >> loaded_tag;
  std::cout << loaded << "compression backend: " << CZLibCompression::Backend()
            << "\n";
  bool ok = loaded == slice && loaded_tag == tag;

  ok &= Throws<int>(
      "record load of a cut record",
      [&] {
        std::istringstream cut(stored.substr(0, stored.size() / 2));
        QmRTArchive ar(static_cast<std::istream&>(cut));
        QmDataSlice s;
        ar >> s;
      },
      [](int e) { return e == -1; });
  ok &= Throws<QmArchiveError>("archive read past the end", [] {
    std::istringstream empty;
    QmRTArchive ar(static_cast<std::istream&>(empty));
    int v = 0;
    ar >> v;
  });
  ok &= Throws<std::bad_array_new_length>("vector of 0x40000000 elements", [] {
    QmMathLA::vector<int> v(0x40000000, nullptr, 0);
  });
  ok &= Throws<std::domain_error>("division by zero", [&] {
    QmMathLA::vector<int> v(3, vars, 0);
    v /= 0;
  });
  std::cout << "exceptions caught by type: " << (ok ? "all" : "NOT all")
            << "\n";
  return ok ? 0 : 1;
}
