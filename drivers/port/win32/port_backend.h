#pragma once

#include "zrn/portdrv/serial_port.h"

namespace zrn::portdrv {

// The ports PortDrawerSO.DLL's driver works on, made once on first use and
// never destroyed. Each build of the DLL links its own definition.
SerialPorts* make_port_backend();

}  // namespace zrn::portdrv
