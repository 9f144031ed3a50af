// The baseline level: the element loops at the library's own flags, runnable
// on any CPU of the target.

#include "mathla/kernels_loops.h"

namespace qmdata::detail {

extern const Kernels kBaselineKernels = MakeKernels<4>("baseline");

}  // namespace qmdata::detail
