// qorv/qorv.h
//
// The whole public API of the qorv geometry kernel.
#pragma once

#include "qorv/foundation/angles.h"
#include "qorv/foundation/assert.h"
#include "qorv/foundation/boxes.h"
#include "qorv/foundation/debug_intersect.h"
#include "qorv/foundation/library.h"
#include "qorv/foundation/object.h"
#include "qorv/foundation/point_records.h"
#include "qorv/foundation/points.h"
#include "qorv/foundation/quaternion.h"
#include "qorv/foundation/thread_data.h"
#include "qorv/foundation/tolerance.h"
#include "qorv/foundation/values.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/file_manager.h"
#include "qorv/persistence/object_database.h"
#include "qorv/support/main_direction.h"
#include "qorv/support/mem_pool.h"
#include "qorv/support/ptr_vector.h"
#include "qorv/support/quick_algebra.h"
#include "qorv/support/vec_rep.h"
