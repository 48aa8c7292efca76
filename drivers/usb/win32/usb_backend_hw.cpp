// The machine's own HID interfaces.
#include "usb_backend.h"
#include "win32_hid.h"

namespace zrn::usbdrv {

HidPort* make_usb_backend() { return new Win32Hid; }

}  // namespace zrn::usbdrv
