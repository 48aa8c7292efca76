#pragma once

#include "zrn/sim/sim_state.h"

namespace zrn::sim {

// The process's view of the named simulator block, created and initialised
// by whichever process comes first. Null when it cannot be mapped.
SimState* shared_state();
SimLock& shared_lock();

// Whether the block already existed when this process mapped it, that is,
// another process held it. The block lives only while some process holds it,
// so changes made by a process that created it vanish when it ends.
bool shared_state_held_elsewhere();

}  // namespace zrn::sim
