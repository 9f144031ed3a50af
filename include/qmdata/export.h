// SPDX-License-Identifier: MIT
// Symbol export for the qmdata shared library.
//
// The library is built with hidden visibility; exactly the classes and free
// operators marked QMDATA_EXPORT form its binary interface. Define
// QMDATA_STATIC when building or using a static library.
//
// QMDATA_TEMPLATE marks the class template whose int instance the library
// provides, and QMDATA_TEMPLATE_INSTANCE marks that instance's explicit
// instantiation declaration in the header; the definition in the library
// inherits it (repeating it there only draws GCC's "attributes ignored").
// On ELF the template itself carries default visibility; on Windows the
// instance is exported from, or imported into, the DLL.

#ifndef QMDATA_QMDATA_EXPORT_H_
#define QMDATA_QMDATA_EXPORT_H_

#if defined(QMDATA_STATIC)
#define QMDATA_EXPORT
#define QMDATA_TEMPLATE
#define QMDATA_TEMPLATE_INSTANCE
#elif defined(_WIN32)
#if defined(QMDATA_BUILDING)
#define QMDATA_EXPORT __declspec(dllexport)
#else
#define QMDATA_EXPORT __declspec(dllimport)
#endif
#define QMDATA_TEMPLATE
#define QMDATA_TEMPLATE_INSTANCE QMDATA_EXPORT
#else
#define QMDATA_EXPORT __attribute__((visibility("default")))
#define QMDATA_TEMPLATE __attribute__((visibility("default")))
#define QMDATA_TEMPLATE_INSTANCE
#endif

// QMDATA_INLINE marks the vector's members defined in its class. A DLL does
// not export them and the explicit instantiation declaration keeps a
// program from making its own copies, so where the compiler does not inline
// them (GCC at -O0) a program using the DLL would fail to link; forced
// inline, every build of the program inlines them.
#if defined(_WIN32) && !defined(QMDATA_STATIC) && defined(__GNUC__)
#define QMDATA_INLINE __attribute__((always_inline))
#else
#define QMDATA_INLINE
#endif

#endif  // QMDATA_QMDATA_EXPORT_H_
