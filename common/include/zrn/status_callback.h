#pragma once

#include <cstdint>

#include "zrn/callconv.h"

namespace zrn {

// Called by both drivers on their own threads: the device key name of the
// reporting unit and its status value.
using StatusCaptureCallback = void(ZRN_STDCALL*)(const char* status_name, std::int32_t status);

}  // namespace zrn
