// The machine's own serial and parallel ports.
#include "port_backend.h"
#include "win32_serial_ports.h"

namespace zrn::portdrv {

SerialPorts* make_port_backend() { return new Win32SerialPorts; }

}  // namespace zrn::portdrv
