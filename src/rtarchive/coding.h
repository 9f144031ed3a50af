// Internal coding helpers of the archive and the compressor: the fixed-width
// byte order (also used by the archive's public header) and the size bounds
// of zlib streams. Never installed.

#ifndef QMDATA_RTARCHIVE_CODING_H_
#define QMDATA_RTARCHIVE_CODING_H_

#include "rtarchive/byteorder.h"
#include "rtarchive/zlib_bounds.h"

#endif  // QMDATA_RTARCHIVE_CODING_H_
