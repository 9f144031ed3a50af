// SPDX-License-Identifier: MIT
// The baseline level: the element loops at the library's own flags, runnable
// on any CPU of the target.

#include "mathla/kernels_loops.h"

namespace qmdata::detail {

// A table of function pointers, constant-initialised: nothing can throw.
extern const Kernels kBaselineKernels = MakeKernels<4>("baseline");  // NOLINT(cert-err58-cpp)

}  // namespace qmdata::detail
