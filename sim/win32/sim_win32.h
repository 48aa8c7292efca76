#pragma once

#include "zrn/sim/sim_state.h"

namespace zrn::sim {

// The process's view of the named simulator block, created and initialised
// by whichever process comes first. Null when it cannot be mapped.
SimState* shared_state();
SimLock& shared_lock();

}  // namespace zrn::sim
