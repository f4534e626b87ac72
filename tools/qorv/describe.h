// The values of a stored object for the tool's machine-readable output.
#pragma once

#include <nlohmann/json.hpp>

class ERObject;

namespace qorv::tool {

// An object of named values; empty when the class exposes none.
nlohmann::json describeValues(const ERObject& object);

}  // namespace qorv::tool
