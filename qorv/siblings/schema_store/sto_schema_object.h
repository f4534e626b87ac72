// qorv/siblings/schema_store/sto_schema_object.h
//
// SchemaStore: a schema class as the CAD identifiers see it, a name and nothing more.
#pragma once

#include <utility>

#include "qorv/siblings/base_utilities/ut_string.h"

namespace qorv::siblings {

class stoSchemaObject {
 public:
  stoSchemaObject() = default;
  explicit stoSchemaObject(utString name) : name_(std::move(name)) {}
  const utString& name() const { return name_; }

 private:
  utString name_;
};

}  // namespace qorv::siblings
