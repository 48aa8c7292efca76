#pragma once

#include <memory>

#include "zrn/utility/control_object.h"

namespace zrn::utility::win32 {

// The OPOS CashDrawer Control Object, created by its class id and called
// through IDispatch by dispatch id. Null when none is registered.
std::unique_ptr<ControlObject> create_control_object();

}  // namespace zrn::utility::win32
