// SPDX-License-Identifier: MIT
// Must not compile with -Werror=unused-result: the unhooked array leaks.
#include "mathla/vector.h"

void Leak(QmMathLA::vector<int>& v) { v.unhook(); }
