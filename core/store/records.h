// The record classes of the settings store, in one include.
#pragma once

#include "core/store/app_record.h"
#include "core/store/cursor_speed_record.h"
#include "core/store/device_record.h"
#include "core/store/store.h"
#include "core/store/user_info_record.h"
