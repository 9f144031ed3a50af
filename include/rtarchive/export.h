// SPDX-License-Identifier: MIT
// Symbol export for the archive library (libqmdata_rtarchive).
//
// The archive and its compressor are a library of their own, which the value
// classes link. Like qmdata it is built with hidden visibility: exactly the
// classes marked QMDATA_RTARCHIVE_EXPORT form its binary interface. Define
// QMDATA_STATIC when building or using static libraries.

#ifndef QMDATA_RTARCHIVE_EXPORT_H_
#define QMDATA_RTARCHIVE_EXPORT_H_

#if defined(QMDATA_STATIC)
#define QMDATA_RTARCHIVE_EXPORT
#elif defined(_WIN32)
#if defined(QMDATA_RTARCHIVE_BUILDING)
#define QMDATA_RTARCHIVE_EXPORT __declspec(dllexport)
#else
#define QMDATA_RTARCHIVE_EXPORT __declspec(dllimport)
#endif
#else
#define QMDATA_RTARCHIVE_EXPORT __attribute__((visibility("default")))
#endif

#endif  // QMDATA_RTARCHIVE_EXPORT_H_
