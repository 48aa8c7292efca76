// The simulated PortDrawerSO.DLL: its ports are the shared simulator block's.
#include "port_backend.h"
#include "sim_win32.h"

namespace zrn::portdrv {

SerialPorts* make_port_backend() { return new sim::SimSerialPorts(sim::shared_state(), sim::shared_lock()); }

}  // namespace zrn::portdrv
