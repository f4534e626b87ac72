// qorv/qorv.h
//
// The whole public API of the qorv geometry kernel.
#pragma once

#include "qorv/foundation/assert.h"
#include "qorv/foundation/debug_intersect.h"
#include "qorv/foundation/library.h"
#include "qorv/foundation/object.h"
#include "qorv/foundation/thread_data.h"
#include "qorv/persistence/file.h"
#include "qorv/persistence/object_database.h"
