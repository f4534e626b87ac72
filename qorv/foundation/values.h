// qorv/foundation/values.h
//
// The plain value types every geometric class passes around, in one include: points, vectors
// and poles (points.h), angles and intervals (angles.h), boxes (boxes.h), quaternions
// (quaternion.h), sampling nodes (point_records.h), the tolerance (tolerance.h) and the six
// signed axis directions (qorv/support/main_direction.h, the result of mainDirection()).
#pragma once

#include "qorv/foundation/angles.h"
#include "qorv/foundation/boxes.h"
#include "qorv/foundation/point_records.h"
#include "qorv/foundation/points.h"
#include "qorv/foundation/quaternion.h"
#include "qorv/foundation/tolerance.h"
#include "qorv/support/main_direction.h"
