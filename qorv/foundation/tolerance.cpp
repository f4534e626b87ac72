#include "qorv/foundation/tolerance.h"

const double equalityTolerance = 1e-11;
