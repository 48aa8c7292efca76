// The simulated USB730SO.DLL: its drawer is the shared simulator block's.
#include "sim_hid.h"
#include "sim_win32.h"
#include "usb_backend.h"

namespace zrn::usbdrv {

HidPort* make_usb_backend() { return new sim::SimHid(sim::shared_state(), sim::shared_lock()); }

}  // namespace zrn::usbdrv
