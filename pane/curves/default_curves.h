// The acceleration table and the parametric curve list a device uses when its service
// carries none.
#pragma once

#include "core/plist/value.h"

namespace vl {

// The 102-byte default acceleration table (two curves around a mid level of 0.5); null only
// if the property-list reader fails on the built-in text.
const pl::Data* defaultAcclTable();

// The default list of ten parametric curves (an array of dictionaries); null only if the
// property-list reader fails on the built-in bytes.
const pl::Value* defaultAcclCurves();

}  // namespace vl
