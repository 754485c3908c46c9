// Makes the record class object for an entity (QS802DeviceClass for Device, ...).
#pragma once

#include <memory>

#include "core/store/managed_object.h"

namespace vl {

std::unique_ptr<ManagedObject> makeStoreRecord(EntityKind kind);

}  // namespace vl
