// QmMathLA::vector: reduce members. Included once, by vector.cpp.

#include "mathla/vector.h"

namespace QmMathLA {}  // namespace QmMathLA
