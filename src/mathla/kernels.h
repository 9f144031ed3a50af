// Element loops of QmMathLA::vector<int>. Internal; not installed.

#ifndef QMDATA_SRC_MATHLA_KERNELS_H_
#define QMDATA_SRC_MATHLA_KERNELS_H_

namespace qmdata::detail {}  // namespace qmdata::detail

#endif  // QMDATA_SRC_MATHLA_KERNELS_H_
