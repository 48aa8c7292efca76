#pragma once

#include "zrn/usbdrv/hid_port.h"

namespace zrn::usbdrv {

// The HID layer USB730SO.DLL's driver works on, made on first use and
// destroyed with the library's state at unload. Each build of the DLL links
// its own definition.
HidPort* make_usb_backend();

}  // namespace zrn::usbdrv
