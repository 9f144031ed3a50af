// SPDX-License-Identifier: MIT
// The version of qmdata: the macros give the headers' version, QmDataVersion
// the library's that the program runs with. A program built against one
// release and run with another can compare the two.
//
//   #if QMDATA_VERSION >= 10000   // 1.0.0 or later
//   std::cout << QmDataVersion();  // "1.1.0"
//
// The numbers equal the CMake package's version (project(VERSION) in the
// top-level CMakeLists.txt, which checks that they agree).

#ifndef QMDATA_QMDATA_VERSION_H_
#define QMDATA_QMDATA_VERSION_H_

#include "qmdata/export.h"

// Macros, not constants: #if must be able to test them.
// NOLINTBEGIN(cppcoreguidelines-macro-usage)
#define QMDATA_VERSION_MAJOR 1
#define QMDATA_VERSION_MINOR 1
#define QMDATA_VERSION_PATCH 0
#define QMDATA_VERSION_STRING "1.1.0"
// major * 10000 + minor * 100 + patch, for #if comparisons.
#define QMDATA_VERSION                                         \
  (QMDATA_VERSION_MAJOR * 10000 + QMDATA_VERSION_MINOR * 100 + \
   QMDATA_VERSION_PATCH)
// NOLINTEND(cppcoreguidelines-macro-usage)

// "major.minor.patch" of the library itself; a static string.
QMDATA_EXPORT const char* QmDataVersion();

#endif  // QMDATA_QMDATA_VERSION_H_
