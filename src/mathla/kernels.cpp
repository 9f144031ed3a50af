#include "mathla/kernels.h"
