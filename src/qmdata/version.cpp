// SPDX-License-Identifier: MIT
// The library's version, fixed when the library is built.

#include "qmdata/version.h"

const char* QmDataVersion() { return QMDATA_VERSION_STRING; }
