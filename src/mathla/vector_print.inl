// QmMathLA::vector: print members. Included once, by vector.cpp.

#include "mathla/vector.h"

namespace QmMathLA {}  // namespace QmMathLA
